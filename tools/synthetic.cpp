#include "tools/synthetic.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numbers>
#include <random>
#include <vector>

#include "datafile/data_writer.h"
#include "errors/errors.h"
#include "platform/byte_order.h"
#include "platform/file_io.h"

namespace {

template <std::size_t N>
void set_text(char (&field)[N], const char* text) {
  std::memset(field, 0, N);
  std::strncpy(field, text, N - 1);
}

// Every header field but the blocks' geometry and byte counts.
void synthetic_header(const SyntheticOptions& o, Header* h) {
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
}

// The surface, one row at a time: heights in metres become phase counts of
// the header's resolution. Rows must be asked for in order, since the noise
// comes from one generator.
class SyntheticSurface {
 public:
  SyntheticSurface(const SyntheticOptions& o, const Header& h)
      : w_(o.width),
        unit_(0.5 * 1.0 * 632.8e-9 / (h.phase_res ? 32768.0 : 4096.0)),
        rng_(o.seed),
        noise_(0.0, 0.4e-9),
        cx_(0.5 * (o.width - 1)),
        cy_(0.5 * (o.height - 1)),
        ring_in_(0.42 * std::min(o.width, o.height)),
        ring_out_(ring_in_ + 2.5),
        ripple_(static_cast<std::size_t>(std::max(0, w_))) {
    for (int x = 0; x < w_; ++x) ripple_[x] = 3.0e-9 * std::sin(2 * std::numbers::pi * x / 17.0);
  }

  void row(int y, std::int32_t* out) {
    constexpr double pitch = 2.2e-6, radius = 2.0e-3;
    for (int x = 0; x < w_; ++x) {
      double dx = (x - cx_) * pitch, dy = (y - cy_) * pitch;
      double r2 = dx * dx + dy * dy;
      double cap = radius - std::sqrt(std::max(0.0, radius * radius - r2));
      double z = -cap + 1.5e-7 - 2.0e-4 * dx + 1.0e-4 * dy + ripple_[x] + noise_(rng_);
      double rp = std::hypot(x - cx_, y - cy_);
      std::int32_t v = static_cast<std::int32_t>(std::lround(z / unit_));
      if (rp >= ring_in_ && rp < ring_out_) v = kInvalidPhase + (x + y) % 8;
      out[x] = v;
    }
  }

 private:
  int w_;
  double unit_;
  std::mt19937 rng_;
  std::normal_distribution<double> noise_;
  double cx_, cy_, ring_in_, ring_out_;
  std::vector<double> ripple_;
};

// One row of the intensity frame: fringes.
void intensity_row(int w, int y, std::uint16_t* out) {
  for (int x = 0; x < w; ++x) {
    double fringe = 0.5 + 0.5 * std::cos(0.35 * x + 0.2 * y);
    out[x] = static_cast<std::uint16_t>(400 + 3200 * fringe);
  }
}

void set_intensity_fields(Header* h, const SyntheticOptions& o) {
  h->intens_width = o.width;
  h->intens_height = o.height;
  h->intens_n_buckets = 1;
  h->intens_range = 4095;
  h->intens_n_bytes = data_block_byte_count(2 * std::int64_t{o.width} * o.height);
}

}  // namespace

std::int32_t data_block_byte_count(std::int64_t bytes) {
  constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
  return static_cast<std::int32_t>(std::min(bytes, kMax));
}

void make_synthetic(const SyntheticOptions& o, Header* h, IntensityRecord* intensity,
                    PhaseRecord* phase) {
  synthetic_header(o, h);
  const int w = o.width, ht = o.height;
  h->cn_width = o.width;
  h->cn_height = o.height;
  h->cn_n_bytes = data_block_byte_count(4 * std::int64_t{w} * ht);

  *phase = PhaseRecord{};
  phase->width = o.width;
  phase->height = o.height;
  if (w > 0 && ht > 0 && phase_record_alloc(phase) == 0) {
    SyntheticSurface surface(o, *h);
    for (int y = 0; y < ht; ++y) surface.row(y, phase->data.get() + std::size_t(y) * w);
  }

  *intensity = IntensityRecord{};
  if (o.intensity && w > 0 && ht > 0) {
    intensity->width = o.width;
    intensity->height = o.height;
    intensity->n_buckets = 1;
    intensity->range = 4095;
    if (intensity_record_alloc(intensity) == 0) {
      for (int y = 0; y < ht; ++y) intensity_row(w, y, intensity->data.get() + std::size_t(y) * w);
      set_intensity_fields(h, o);
    }
  }
}

std::int32_t write_synthetic_file(const SyntheticOptions& o, const char* path) {
  Header h;
  synthetic_header(o, &h);
  const int w = std::max(0, int{o.width}), ht = std::max(0, int{o.height});
  h.cn_width = o.width;
  h.cn_height = o.height;
  h.cn_n_bytes = data_block_byte_count(4 * std::int64_t{w} * ht);
  const bool with_intensity = o.intensity && w > 0 && ht > 0;
  if (with_intensity) set_intensity_fields(&h, o);

  File f(u_fopen(path, "wb"));
  if (!f) return ERR_CANT_CREATE_FILE;
  std::vector<std::uint8_t> bytes = encode_data_file(h, nullptr, nullptr);
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();

  // Rows in batches of about a megabyte, stored big-endian.
  const int rows = w > 0 ? std::max(1, (1 << 18) / w) : 1;
  if (ok && with_intensity) {
    std::vector<std::uint16_t> values(std::size_t(rows) * w);
    for (int y = 0; ok && y < ht; y += rows) {
      const int n = std::min(rows, ht - y);
      for (int k = 0; k < n; ++k) intensity_row(w, y + k, values.data() + std::size_t(k) * w);
      bytes.resize(values.size() * 2);
      const std::size_t count = std::size_t(n) * w;
      for (std::size_t i = 0; i < count; ++i) store_be16(&bytes[2 * i], values[i]);
      ok = std::fwrite(bytes.data(), 2, count, f.get()) == count;
    }
  }
  if (ok && h.cn_n_bytes > 0) {
    SyntheticSurface surface(o, h);
    std::vector<std::int32_t> values(std::size_t(rows) * w);
    bytes.resize(values.size() * 4);
    for (int y = 0; ok && y < ht; y += rows) {
      const int n = std::min(rows, ht - y);
      for (int k = 0; k < n; ++k) surface.row(y + k, values.data() + std::size_t(k) * w);
      const std::size_t count = std::size_t(n) * w;
      for (std::size_t i = 0; i < count; ++i)
        store_be32(&bytes[4 * i], static_cast<std::uint32_t>(values[i]));
      ok = std::fwrite(bytes.data(), 4, count, f.get()) == count;
    }
  }
  ok = f.close() && ok;
  return ok ? ERR_NONE : ERR_CANT_WRITE_FILE;
}
