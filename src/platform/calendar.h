// Conversion of a broken-down local date-time into the library's date-time value: days since
// 1899-12-30 with the time of day as the fraction. Shared by both platform implementations.
#pragma once

#include <cstdint>

namespace zk::platform {

// Days from 1970-01-01 to the given proleptic Gregorian date (month 1..12, day 1..31).
inline int64_t DaysFromCivil(int64_t year, unsigned month, unsigned day) {
  year -= month <= 2 ? 1 : 0;
  const int64_t era = (year >= 0 ? year : year - 399) / 400;
  const int64_t yearOfEra = year - era * 400;
  const int64_t dayOfYear = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

// 1970-01-01 counted from 1899-12-30.
constexpr int64_t kUnixEpochAsDateTime = 25569;

inline double EncodeDateTime(int year, unsigned month, unsigned day, unsigned hour, unsigned minute,
                             unsigned second, unsigned millisecond) {
  const double days = static_cast<double>(DaysFromCivil(year, month, day) + kUnixEpochAsDateTime);
  const double msOfDay = ((hour * 60.0 + minute) * 60.0 + second) * 1000.0 + millisecond;
  return days + msOfDay / 86400000.0;
}

}  // namespace zk::platform
