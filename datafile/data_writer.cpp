#include "datafile/data_writer.h"

#include "errors/errors.h"
#include "platform/byte_order.h"
#include "platform/file_io.h"

std::vector<std::uint8_t> encode_data_file(const Header& header, const IntensityRecord* intensity,
                                           const PhaseRecord* phase) {
  // An unknown magic number gets the short header.
  std::size_t header_length = header_length_for_magic(header.magic_number);
  if (header_length == 0) header_length = kHeaderSizeShort;
  std::vector<std::uint8_t> out(header_length);
  header_encode(header, out.data(), header_length);
  if (header.intens_n_bytes > 0 && intensity && intensity->data) {
    std::size_t at = out.size();
    out.resize(at + 2 * static_cast<std::size_t>(intensity->count));
    for (std::int32_t i = 0; i < intensity->count; ++i)
      store_be16(&out[at + 2 * static_cast<std::size_t>(i)], intensity->data[i]);
  }
  if (header.cn_n_bytes > 0 && phase && phase->data) {
    std::size_t at = out.size();
    out.resize(at + 4 * static_cast<std::size_t>(phase->count));
    for (std::int32_t i = 0; i < phase->count; ++i)
      store_be32(&out[at + 4 * static_cast<std::size_t>(i)],
                 static_cast<std::uint32_t>(phase->data[i]));
  }
  return out;
}

std::int32_t write_data_file(const char* path, const Header& header,
                             const IntensityRecord* intensity, const PhaseRecord* phase) {
  std::vector<std::uint8_t> bytes = encode_data_file(header, intensity, phase);
  File f(u_fopen(path, "wb"));
  if (!f) return ERR_CANT_CREATE_FILE;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f.get()) == bytes.size();
  ok = f.close() && ok;
  return ok ? ERR_NONE : ERR_CANT_WRITE_FILE;
}
