#pragma once
#include <cstdint>

namespace kv::platform {

// Windows FILETIME: 100-nanosecond intervals since 1 January 1601.
using FileTime = std::uint64_t;

struct CalendarTime {
  int year = 1601, month = 1, day = 1;
  int hour = 0, minute = 0, second = 0, millisecond = 0;
};

CalendarTime ToCalendar(FileTime t);
FileTime FromCalendar(const CalendarTime& c);

}  // namespace kv::platform
