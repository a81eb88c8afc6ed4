#include "tools/synthetic.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <random>

namespace {

template <std::size_t N>
void set_text(char (&field)[N], const char* text) {
  std::memset(field, 0, N);
  std::strncpy(field, text, N - 1);
}

}  // namespace

void make_synthetic(const SyntheticOptions& o, Header* h, IntensityRecord* intensity,
                    PhaseRecord* phase) {
  *h = Header{};
  set_header_format(*h, o.format);
  h->swinfo.type = 1;
  set_text(h->swinfo.date, "Wed Mar 02 10:22:32 2011");
  h->swinfo.vers.maj = 8;
  h->swinfo.vers.min = 3;
  h->swinfo.vers.bug = 5;
  h->time_stamp = 1299061352;
  set_text(h->comment, "Synthetic spherical cap with ripple");
  h->source = 1;
  h->intf_scale_factor = 0.5f;
  h->wavelength_in = 632.8e-9f;
  h->num_aperture = 0.3f;
  h->obliquity_factor = 1.0f;
  h->magnification = 20.0f;
  h->lateral_res = 2.2e-6f;
  h->acq_type = 1;
  h->intens_avg_cnt = 1;
  h->ramp_cal = 1;
  h->sfac_limit = 3;
  h->ramp_gain = 1200;
  h->part_thickness = 0.0f;
  h->target_range = 0.1f;
  h->min_mod = 7;
  h->min_mod_count = 20;
  // Format 2 marks high phase resolution; format 1 the normal one.
  h->phase_res = o.format == 2 ? 2 : o.format == 3 ? 1 : 0;
  h->min_area = 20;
  h->discon_action = 1;
  h->discon_filter = 60.0f;
  h->connect_order = 0;
  h->sign = -1;
  h->camera_width = 640;
  h->camera_height = 480;
  h->sys_type = 9;
  h->sys_board = 2;
  h->sys_serial = 12345;
  h->inst_id = 1;
  set_text(h->obj_name, "20x Mirau");
  set_text(h->part_name, "Spherical cap demo");
  h->codev_type = 0;
  h->phase_avg_cnt = 4;
  set_text(h->part_ser_num, "SN-0001");
  h->refractive_index = 1.0f;
  h->max_area = 1000000;
  h->setup_type = 1;
  h->wrapped = 0;
  h->pre_connect_filter = 0.0f;
  h->wavelength_in_1 = 632.8e-9f;
  set_text(h->wavelen_select, "1");
  h->fda_res = 1;
  set_text(h->scan_descr, "Bipolar 20 um");
  h->pixel_width = 2.2e-6f;
  h->pixel_height = 2.2e-6f;
  h->exit_pupil_diam = 0.0065f;
  h->light_level_pct = 43.5f;
  h->coords_state = 1;
  h->coords.x_pos = 12.5f;
  h->coords.y_pos = -3.25f;
  h->coords.z_pos = 0.75f;
  h->coherence_mode = 1;
  h->rem_fringes_mode = 1;
  if (o.format == 3) {
    h->sys_serial2 = 1234567;
    h->ext_838[0] = 1;
    h->ext_842[0] = 42;
    h->ext_1264 = 2;
    h->ext_1266[0] = 100;
    h->ext_1266[1] = -100;
  }

  const int w = o.width, ht = o.height;
  h->cn_width = o.width;
  h->cn_height = o.height;
  h->cn_n_bytes = 4 * w * ht;

  // Heights in metres become phase counts of the header's resolution.
  const double unit = 0.5 * 1.0 * 632.8e-9 / (h->phase_res ? 32768.0 : 4096.0);
  std::mt19937 rng(o.seed);
  std::normal_distribution<double> noise(0.0, 0.4e-9);
  const double cx = 0.5 * (w - 1), cy = 0.5 * (ht - 1);
  const double pitch = 2.2e-6, radius = 2.0e-3;
  const double ring_in = 0.42 * std::min(w, ht), ring_out = ring_in + 2.5;

  *phase = PhaseRecord{};
  phase->width = o.width;
  phase->height = o.height;
  if (w > 0 && ht > 0 && phase_record_alloc(phase) == 0) {
    for (int y = 0; y < ht; ++y) {
      for (int x = 0; x < w; ++x) {
        double dx = (x - cx) * pitch, dy = (y - cy) * pitch;
        double r2 = dx * dx + dy * dy;
        double cap = radius - std::sqrt(std::max(0.0, radius * radius - r2));
        double z = -cap + 1.5e-7 - 2.0e-4 * dx + 1.0e-4 * dy +
                   3.0e-9 * std::sin(2 * std::numbers::pi * x / 17.0) + noise(rng);
        double rp = std::hypot(x - cx, y - cy);
        std::int32_t v = static_cast<std::int32_t>(std::lround(z / unit));
        if (rp >= ring_in && rp < ring_out) v = kInvalidPhase + (x + y) % 8;
        phase->data[static_cast<std::size_t>(y) * w + x] = v;
      }
    }
  }

  *intensity = IntensityRecord{};
  if (o.intensity && w > 0 && ht > 0) {
    intensity->width = o.width;
    intensity->height = o.height;
    intensity->n_buckets = 1;
    intensity->range = 4095;
    if (intensity_record_alloc(intensity) == 0) {
      for (int y = 0; y < ht; ++y)
        for (int x = 0; x < w; ++x) {
          double fringe = 0.5 + 0.5 * std::cos(0.35 * x + 0.2 * y);
          intensity->data[static_cast<std::size_t>(y) * w + x] =
              static_cast<std::uint16_t>(400 + 3200 * fringe);
        }
      h->intens_width = o.width;
      h->intens_height = o.height;
      h->intens_n_buckets = 1;
      h->intens_range = 4095;
      h->intens_n_bytes = 2 * intensity->count;
    }
  }
}
