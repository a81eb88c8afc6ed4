/* Loads an SDF file written by tovrel with Gwyddion, headless, and checks
 * that Gwyddion sees what the file says: the size (NumPoints x NumProfiles),
 * the real dimensions (size x Xscale, Yscale) and every height (value x
 * Zscale), to the precision the file prints (ten significant digits).
 *
 *   gwyddion_load file.sdf
 *   gwyddion_load binary.sdf ascii.sdf
 *
 * The second form loads the binary form or the x3p file of a conversion
 * and checks it against the ASCII form of the same conversion; points
 * without a measurement (4294967295) must come back masked, not as heights.
 * An x3p file (its name ends in .x3p) must give every height to the last
 * bit: the value times the double that Zscale reads as.
 *
 *   gwyddion_load --parameters tovrel-info binary.sdf
 *
 * The third form compares the height parameters tovrel-info lists for a
 * binary SDF file with Gwyddion's: the plane fitted through the valid points
 * and taken away, then the statistics of the valid points (Gwyddion gives
 * the excess kurtosis, Sku less 3), to a relative 1e-9; and the size.
 *
 * Exit status 0 when everything agrees, 1 otherwise. */
#include <app/data-browser.h>
#include <app/gwyapp.h>
#include <libgwymodule/gwymodule-file.h>
#include <libprocess/datafield.h>
#include <libprocess/level.h>
#include <libprocess/stats.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

/* What the file itself says. */
typedef struct {
  long points, profiles;
  double xscale, yscale, zscale;
  unsigned long* values;
  long count;
} SdfText;

static int fail(const char* what) {
  fprintf(stderr, "FAILED: %s\n", what);
  return 1;
}

/* The value of header line "key = value", or NULL. */
static const char* header_value(const char* text, const char* key) {
  char pattern[64];
  const char* at;
  snprintf(pattern, sizeof pattern, "\n%s = ", key);
  at = strstr(text, pattern);
  return at ? at + strlen(pattern) : NULL;
}

static int read_sdf_text(const char* path, SdfText* sdf) {
  gchar* text = NULL;
  const char *v[5], *keys[5] = {"NumPoints", "NumProfiles", "Xscale", "Yscale", "Zscale"};
  const char *p, *end;
  int i;
  if (!g_file_get_contents(path, &text, NULL, NULL)) return fail("cannot read the SDF file");
  for (i = 0; i < 5; ++i) {
    if (!(v[i] = header_value(text, keys[i]))) {
      g_free(text);
      return fail("a header line is missing");
    }
  }
  sdf->points = strtol(v[0], NULL, 10);
  sdf->profiles = strtol(v[1], NULL, 10);
  sdf->xscale = strtod(v[2], NULL);
  sdf->yscale = strtod(v[3], NULL);
  sdf->zscale = strtod(v[4], NULL);
  sdf->count = sdf->points * sdf->profiles;
  sdf->values = g_new(unsigned long, sdf->count > 0 ? sdf->count : 1);
  p = strstr(text, "\n*\n");
  end = p ? strstr(p + 3, "*\n") : NULL;
  if (!p || !end) {
    g_free(text);
    return fail("no data section");
  }
  p += 3;
  for (i = 0; i < sdf->count; ++i) {
    char* next;
    sdf->values[i] = strtoul(p, &next, 10);
    if (next == p || next > end) {
      g_free(text);
      return fail("too few data values");
    }
    p = next;
  }
  g_free(text);
  return 0;
}

static int close_enough(double expected, double actual) {
  if (isnan(expected)) return isnan(actual);
  return fabs(expected - actual) <= 1e-9 * fabs(expected) + 1e-300;
}

/* The field and the mask of missing points Gwyddion loads from `path`. */
static GwyContainer* load(const char* path, GwyDataField** field, GwyDataField** mask) {
  GError* error = NULL;
  const gchar* loader = NULL;
  GwyContainer* data;
  gint* ids;
  gwy_app_init_nongui(NULL);
  data = gwy_file_load_with_func(path, GWY_RUN_NONINTERACTIVE, &loader, &error);
  if (!data) {
    fprintf(stderr, "FAILED: Gwyddion cannot load %s: %s\n", path,
            error ? error->message : "no reason given");
    return NULL;
  }
  ids = gwy_app_data_browser_get_data_ids(data);
  if (!ids || ids[0] < 0) {
    fail("Gwyddion found no data field");
    return NULL;
  }
  *field = GWY_DATA_FIELD(gwy_container_get_object(data, gwy_app_get_data_key_for_id(ids[0])));
  *mask = NULL;
  gwy_container_gis_object(data, gwy_app_get_mask_key_for_id(ids[0]), (GObject**)mask);
  g_free(ids);
  return data;
}

static int compare_parameters(const char* info, const char* path) {
  GwyDataField *field, *mask;
  GwyContainer* data = load(path, &field, &mask);
  const char* names[7] = {"Sa", "Sq", "Ssk", "Sku", "Sp", "Sv", "Sz"};
  double gwy[7], ours[7];
  int found[7] = {0}, i, bad = 0;
  double pa, pbx, pby, avg, min, max;
  gint xres, yres;
  char command[4096], line[512];
  FILE* listing;
  if (!data) return 1;
  xres = gwy_data_field_get_xres(field);
  yres = gwy_data_field_get_yres(field);
  gwy_data_field_area_fit_plane_mask(field, mask, GWY_MASK_EXCLUDE, 0, 0, xres, yres, &pa, &pbx,
                                     &pby);
  gwy_data_field_plane_level(field, pa, pbx, pby);
  gwy_data_field_area_get_stats_mask(field, mask, GWY_MASK_EXCLUDE, 0, 0, xres, yres, &avg, &gwy[0],
                                     &gwy[1], &gwy[2], &gwy[3]);
  gwy[3] += 3;
  gwy_data_field_area_get_min_max_mask(field, mask, GWY_MASK_EXCLUDE, 0, 0, xres, yres, &min, &max);
  gwy[4] = max;
  gwy[5] = -min;
  gwy[6] = max - min;

  snprintf(command, sizeof command, "\"%s\" \"%s\"", info, path);
  listing = popen(command, "r");
  if (!listing) return fail("cannot run tovrel-info");
  while (fgets(line, sizeof line, listing)) {
    char name[16];
    double value;
    if (sscanf(line, " %15[A-Za-z]: %lf", name, &value) != 2) continue;
    if ((strcmp(name, "width") == 0 && value != xres) ||
        (strcmp(name, "height") == 0 && value != yres))
      ++bad, fprintf(stderr, "%s %g, Gwyddion %d x %d\n", name, value, xres, yres);
    for (i = 0; i < 7; ++i)
      if (strcmp(name, names[i]) == 0) ours[i] = value, found[i] = 1;
  }
  if (pclose(listing) != 0) return fail("tovrel-info failed");
  for (i = 0; i < 7; ++i) {
    const int agree = found[i] && fabs(ours[i] - gwy[i]) <= 1e-9 * fabs(gwy[i]);
    printf("%-3s tovrel-info %.10g, Gwyddion %.10g%s\n", names[i], found[i] ? ours[i] : NAN, gwy[i],
           agree ? "" : "  DIFFERS");
    bad += !agree;
  }
  g_object_unref(data);
  if (bad) return fail("parameters differ from Gwyddion's");
  puts("Gwyddion agrees with tovrel-info's parameters");
  return 0;
}

int main(int argc, char** argv) {
  SdfText sdf;
  GError* error = NULL;
  const gchar* loader = NULL;
  GwyContainer* data;
  GwyDataField* field;
  gint* ids;
  const gdouble* heights;
  long i, bad = 0;
  double worst = 0.0;

  GwyDataField* mask = NULL;
  const gdouble* masked = NULL;
  const int binary = argc == 3;
  const size_t name_length = strlen(argv[1]);
  const int exact = name_length > 4 && strcmp(argv[1] + name_length - 4, ".x3p") == 0;
  if (argc == 4 && strcmp(argv[1], "--parameters") == 0)
    return compare_parameters(argv[2], argv[3]);
  if (argc != 2 && argc != 3) return fail("usage: gwyddion_load file.sdf [ascii.sdf]");
  if (read_sdf_text(argv[binary ? 2 : 1], &sdf)) return 1;

  gwy_app_init_nongui(NULL);
  data = gwy_file_load_with_func(argv[1], GWY_RUN_NONINTERACTIVE, &loader, &error);
  if (!data) {
    fprintf(stderr, "FAILED: Gwyddion cannot load %s: %s\n", argv[1],
            error ? error->message : "no reason given");
    return 1;
  }
  ids = gwy_app_data_browser_get_data_ids(data);
  if (!ids || ids[0] < 0) return fail("Gwyddion found no data field");
  field = GWY_DATA_FIELD(gwy_container_get_object(data, gwy_app_get_data_key_for_id(ids[0])));

  printf("loader %s: %d x %d points, %.10g x %.10g m\n", loader ? loader : "?",
         gwy_data_field_get_xres(field), gwy_data_field_get_yres(field),
         gwy_data_field_get_xreal(field), gwy_data_field_get_yreal(field));
  if (gwy_data_field_get_xres(field) != sdf.points ||
      gwy_data_field_get_yres(field) != sdf.profiles)
    return fail("size differs from NumPoints x NumProfiles");
  if (!close_enough(sdf.points * sdf.xscale, gwy_data_field_get_xreal(field)) ||
      !close_enough(sdf.profiles * sdf.yscale, gwy_data_field_get_yreal(field)))
    return fail("real dimensions differ from size x scale");

  heights = gwy_data_field_get_data_const(field);
  if (gwy_container_gis_object(data, gwy_app_get_mask_key_for_id(ids[0]), (GObject**)&mask))
    masked = gwy_data_field_get_data_const(mask);
  for (i = 0; i < sdf.count; ++i) {
    if (binary) {
      const int missing = sdf.values[i] == 4294967295UL;
      if (missing != (masked && masked[i] != 0.0)) {
        if (bad++ < 5) fprintf(stderr, "point %ld: %s\n", i, missing ? "not masked" : "masked");
        continue;
      }
      if (missing) continue;
    }
    double expected = (double)sdf.values[i] * sdf.zscale;
    double diff = fabs(expected - heights[i]);
    if (diff > worst) worst = diff;
    if ((exact ? expected != heights[i] : !close_enough(expected, heights[i])) && bad++ < 5)
      fprintf(stderr, "point %ld: file says %.12g m, Gwyddion %.12g m\n", i, expected, heights[i]);
  }
  printf("%ld heights compared, largest difference %.3g m\n", sdf.count, worst);
  g_free(ids);
  g_object_unref(data);
  g_free(sdf.values);
  if (bad) return fail("heights differ from value x Zscale");
  puts("Gwyddion agrees with the file");
  return 0;
}
