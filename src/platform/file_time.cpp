#include "platform/file_time.h"

namespace kv::platform {
namespace {

constexpr std::uint64_t kTicksPerSecond = 10'000'000;
constexpr std::uint64_t kSecondsPerDay = 86'400;
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kDays1601To1970 = 134'774;

// Howard Hinnant's civil-from-days / days-from-civil on the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  y = static_cast<int>(static_cast<std::int64_t>(yoe) + era * 400 + (m <= 2));
}

}  // namespace

CalendarTime ToCalendar(FileTime t) {
  CalendarTime c;
  const std::uint64_t seconds = t / kTicksPerSecond;
  c.millisecond = static_cast<int>((t % kTicksPerSecond) / 10'000);
  const std::uint64_t days = seconds / kSecondsPerDay;
  const std::uint64_t rest = seconds % kSecondsPerDay;
  c.hour = static_cast<int>(rest / 3600);
  c.minute = static_cast<int>(rest / 60 % 60);
  c.second = static_cast<int>(rest % 60);
  CivilFromDays(static_cast<std::int64_t>(days) - kDays1601To1970, c.year, c.month, c.day);
  return c;
}

FileTime FromCalendar(const CalendarTime& c) {
  const std::int64_t days =
      DaysFromCivil(c.year, static_cast<unsigned>(c.month), static_cast<unsigned>(c.day)) +
      kDays1601To1970;
  if (days < 0) return 0;
  const std::uint64_t seconds = static_cast<std::uint64_t>(days) * kSecondsPerDay +
                                static_cast<std::uint64_t>(c.hour) * 3600 +
                                static_cast<std::uint64_t>(c.minute) * 60 +
                                static_cast<std::uint64_t>(c.second);
  return seconds * kTicksPerSecond + static_cast<std::uint64_t>(c.millisecond) * 10'000;
}

}  // namespace kv::platform
