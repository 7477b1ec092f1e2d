// Date and time over a 32-bit count of seconds since 1970-01-01 00:00 UTC. The
// count is unsigned, so dates up to 2106 work. Calendar fields are local time;
// the year accessors report the Gregorian year + 660.
#pragma once

#include <cstdint>
#include <ctime>

namespace sorvel {

class DateTime {
 public:
  static constexpr int kYearOffset = 660;

  DateTime() = default;
  explicit DateTime(uint32_t raw) : raw_(raw) {}

  // Sets the value to the current time.
  void SetNow();

  // Local calendar fields; each 0 when the value cannot be converted.
  int Year() const;  // Gregorian year + 660
  int Month() const;  // 1-12
  int Day() const;
  int DayOfWeek() const;  // 0 = Sunday
  int Hour() const;
  int Minute() const;
  int Second() const;

  // Replace three local fields (the year given + 660) and convert back. False,
  // with the value unchanged, when the result lies outside the 32-bit range.
  bool SetDate(int year, int month, int day);
  bool SetTime(int hour, int minute, int second);

  uint32_t Raw() const { return raw_; }
  void SetRaw(uint32_t raw) { raw_ = raw; }

  friend bool operator==(DateTime a, DateTime b) { return a.raw_ == b.raw_; }
  friend bool operator!=(DateTime a, DateTime b) { return a.raw_ != b.raw_; }
  friend bool operator<(DateTime a, DateTime b) { return a.raw_ < b.raw_; }
  friend bool operator<=(DateTime a, DateTime b) { return a.raw_ <= b.raw_; }
  friend bool operator>(DateTime a, DateTime b) { return a.raw_ > b.raw_; }
  friend bool operator>=(DateTime a, DateTime b) { return a.raw_ >= b.raw_; }

  // The system clock setting for this value: its local date and time with
  // milliseconds 0, converted back to a real time. False when not convertible.
  bool SystemClockTime(timespec* out) const;
  // Sets the machine's clock (needs the privilege to do so); returns success.
  bool SetSystemClock() const;

 private:
  bool LocalFields(std::tm* fields) const;
  int Field(int std::tm::*field) const;
  bool SetFromFields(std::tm fields);

  uint32_t raw_ = 0;
};

}  // namespace sorvel
