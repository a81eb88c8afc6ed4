#include "datafile/date_text.h"

// Placeholder until the parser lands.
void parse_date_text(const char*, int* year, int* month, int* day, int* weekday, int* hour,
                     int* minute, int* second) {
  for (int* p : {year, month, day, weekday, hour, minute, second})
    if (p) *p = -1;
}

std::string sdf_date_stamp(const char*) { return "-1-1-001-1-1"; }
