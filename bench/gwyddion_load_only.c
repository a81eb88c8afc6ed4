/* Loads an SDF file with Gwyddion's own loader, headless, and does nothing
 * else: the reference for the import speed that bench/compare.sh prints.
 *
 *   gwyddion_load_only file.sdf
 *
 * Prints the size Gwyddion found; exit status 1 when it could not load the
 * file. */
#include <app/data-browser.h>
#include <app/gwyapp.h>
#include <libgwymodule/gwymodule-file.h>
#include <libprocess/datafield.h>
#include <stdio.h>

int main(int argc, char** argv) {
  GwyContainer* data;
  GError* error = NULL;
  gint* ids;
  GwyDataField* field;
  if (argc != 2) {
    fprintf(stderr, "usage: gwyddion_load_only file.sdf\n");
    return 1;
  }
  gwy_app_init_nongui(NULL);
  data = gwy_file_load(argv[1], GWY_RUN_NONINTERACTIVE, &error);
  if (!data) {
    fprintf(stderr, "Gwyddion cannot load %s: %s\n", argv[1], error ? error->message : "?");
    return 1;
  }
  ids = gwy_app_data_browser_get_data_ids(data);
  if (!ids || ids[0] < 0) return 1;
  field = GWY_DATA_FIELD(gwy_container_get_object(data, gwy_app_get_data_key_for_id(ids[0])));
  printf("%d x %d points\n", gwy_data_field_get_xres(field), gwy_data_field_get_yres(field));
  return 0;
}
