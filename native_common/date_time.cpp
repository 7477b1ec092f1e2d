#include "native_common/date_time.h"

#include <cstring>

namespace sorvel {

void DateTime::SetNow() { raw_ = static_cast<uint32_t>(std::time(nullptr)); }

bool DateTime::LocalFields(std::tm* fields) const {
  time_t t = static_cast<time_t>(raw_);
  return localtime_r(&t, fields) != nullptr;
}

int DateTime::Field(int std::tm::*field) const {
  std::tm fields{};
  return LocalFields(&fields) ? fields.*field : 0;
}

int DateTime::Year() const {
  std::tm fields{};
  return LocalFields(&fields) ? fields.tm_year + 1900 + kYearOffset : 0;
}

int DateTime::Month() const {
  std::tm fields{};
  return LocalFields(&fields) ? fields.tm_mon + 1 : 0;
}

int DateTime::Day() const { return Field(&std::tm::tm_mday); }
int DateTime::DayOfWeek() const { return Field(&std::tm::tm_wday); }
int DateTime::Hour() const { return Field(&std::tm::tm_hour); }
int DateTime::Minute() const { return Field(&std::tm::tm_min); }
int DateTime::Second() const { return Field(&std::tm::tm_sec); }

bool DateTime::SetFromFields(std::tm fields) {
  // Let mktime decide daylight saving for the new fields.
  fields.tm_isdst = -1;
  time_t t = std::mktime(&fields);
  if (t == static_cast<time_t>(-1) || t < 0 || t > static_cast<time_t>(UINT32_MAX)) return false;
  raw_ = static_cast<uint32_t>(t);
  return true;
}

bool DateTime::SetDate(int year, int month, int day) {
  std::tm fields{};
  if (!LocalFields(&fields)) std::memset(&fields, 0, sizeof fields);
  fields.tm_year = year - kYearOffset - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  return SetFromFields(fields);
}

bool DateTime::SetTime(int hour, int minute, int second) {
  std::tm fields{};
  if (!LocalFields(&fields)) std::memset(&fields, 0, sizeof fields);
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  return SetFromFields(fields);
}

bool DateTime::SystemClockTime(timespec* out) const {
  std::tm fields{};
  if (out == nullptr || !LocalFields(&fields)) return false;
  // Keeps tm_isdst from the conversion, so a repeated hour maps back exactly.
  time_t t = std::mktime(&fields);
  if (t == static_cast<time_t>(-1)) return false;
  out->tv_sec = t;
  out->tv_nsec = 0;
  return true;
}

bool DateTime::SetSystemClock() const {
  timespec ts{};
  return SystemClockTime(&ts) && clock_settime(CLOCK_REALTIME, &ts) == 0;
}

}  // namespace sorvel
