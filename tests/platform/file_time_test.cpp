#include <gtest/gtest.h>

#include "platform/file_time.h"

namespace kv::platform {
namespace {

TEST(FileTime, ConvertsKnownInstants) {
  // 1970-01-01 is 116444736000000000 ticks after 1601-01-01.
  EXPECT_EQ(FromCalendar({1970, 1, 1, 0, 0, 0, 0}), 116444736000000000ull);
  const CalendarTime c = ToCalendar(FromCalendar({2008, 12, 31, 23, 59, 59, 250}));
  EXPECT_EQ(c.year, 2008);
  EXPECT_EQ(c.month, 12);
  EXPECT_EQ(c.day, 31);
  EXPECT_EQ(c.hour, 23);
  EXPECT_EQ(c.second, 59);
  EXPECT_EQ(c.millisecond, 250);
  const CalendarTime leap = ToCalendar(FromCalendar({2024, 2, 29, 12, 0, 0, 0}));
  EXPECT_EQ(leap.month, 2);
  EXPECT_EQ(leap.day, 29);
  EXPECT_EQ(ToCalendar(0).year, 1601);
}

}  // namespace
}  // namespace kv::platform
