#include "datafile/sdf_writer.h"

#include "errors/errors.h"

std::int32_t sdf_export(const char*, const Header*, const IntensityRecord*, const PhaseRecord*) {
  return ERR_NOT_IMPLEMENTED;
}
