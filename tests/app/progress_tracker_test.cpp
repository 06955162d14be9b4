#include <gtest/gtest.h>

#include "app/progress_tracker.h"

namespace kv::app {
namespace {

class CountingRange : public ProgressRange {
 public:
  bool changed() override {
    ++calls;
    return answer;
  }
  int calls = 0;
  bool answer = true;
};

class ProgressTrackerTest : public ::testing::Test {
 protected:
  CountingRange range;
  ProgressTracker tracker{range};
};

TEST_F(ProgressTrackerTest, NestedPhasesDivideTheParentsUnit) {
  tracker.begin(2);
  tracker.begin(5);
  for (int i = 0; i < 5; ++i) tracker.advance();
  EXPECT_DOUBLE_EQ(range.current(), 50.0);
  tracker.end();
  EXPECT_DOUBLE_EQ(range.current(), 50.0);  // end never moves the value
  // The parent counts its own units: the nested run filled unit one, and the
  // parent's first advance records that unit (base + 1 x step), the second ends it.
  tracker.advance();
  EXPECT_DOUBLE_EQ(range.current(), 50.0);
  tracker.advance();
  EXPECT_DOUBLE_EQ(range.current(), 100.0);
  EXPECT_EQ(range.calls, 7);
}

TEST_F(ProgressTrackerTest, BeginOnAnEmptyStackResetsFirst) {
  range.set_current(73.0);
  tracker.begin(4);
  EXPECT_DOUBLE_EQ(range.current(), 0.0);
  tracker.advance();
  EXPECT_DOUBLE_EQ(range.current(), 25.0);
  tracker.set_done(3);
  EXPECT_DOUBLE_EQ(range.current(), 75.0);
}

TEST_F(ProgressTrackerTest, NoOpenFrameMeansNoChange) {
  range.set_current(12.5);
  EXPECT_FALSE(tracker.advance());
  EXPECT_FALSE(tracker.set_done(2));
  tracker.end();
  EXPECT_DOUBLE_EQ(range.current(), 12.5);
  EXPECT_EQ(range.calls, 0);
}

TEST_F(ProgressTrackerTest, AdvancingTooOftenIsNotClamped) {
  tracker.begin(2);
  tracker.begin(2);
  tracker.advance(3);
  EXPECT_DOUBLE_EQ(range.current(), 75.0);  // beyond the parent's unit of 50
  tracker.end();
  tracker.advance(2);
  EXPECT_DOUBLE_EQ(range.current(), 100.0);
  tracker.advance();
  EXPECT_DOUBLE_EQ(range.current(), 150.0);
}

TEST_F(ProgressTrackerTest, AdvanceReturnsWhatChangedAnswers) {
  tracker.begin(1);
  range.answer = false;
  EXPECT_FALSE(tracker.advance());
}

TEST_F(ProgressTrackerTest, ResetDoesNotNotify) {
  tracker.begin(2);
  tracker.advance();
  range.calls = 0;
  tracker.reset();
  EXPECT_DOUBLE_EQ(range.current(), 0.0);
  EXPECT_EQ(tracker.depth(), 0u);
  EXPECT_EQ(range.calls, 0);
}

}  // namespace
}  // namespace kv::app
