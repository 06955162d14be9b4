#include "app/placement.h"

#include <gtest/gtest.h>

namespace kv::app {
namespace {

constexpr Size kScreen{1024, 768};
constexpr FrameMetrics kMetrics{4, 4, 20, 19};

WindowRect Centred() {
  // 500 + 2*4 wide; 600 + 2*4 + 19 + 20 + 10 high.
  const int w = 508, h = 657;
  const int left = (1024 - w) / 2, top = (768 - h) / 2;
  return {left, top, left + w, top + h};
}

TEST(PlacementTest, UsableStoredRectangleIsKept) {
  const WindowRect stored{100, 50, 700, 650};
  EXPECT_EQ(ChooseFramePlacement(stored, kScreen, kMetrics), stored);
  // It may reach past the screen's edge: only its top-left corner is checked.
  const WindowRect wide{1, 1, 3000, 2000};
  EXPECT_EQ(ChooseFramePlacement(wide, kScreen, kMetrics), wide);
}

TEST(PlacementTest, MissingOrUnusableRectangleIsCentredDefault) {
  EXPECT_EQ(ChooseFramePlacement(std::nullopt, kScreen, kMetrics), Centred());
  const WindowRect rejected[] = {
      {0, 50, 600, 650},                    // at the left edge
      {100, 0, 600, 650},                   // at the top edge
      {-32000, -32000, -31840, -31973},     // a minimised frame's rectangle
      {1024, 50, 1500, 650},                // right of the screen
      {100, 768, 600, 1200},                // below the screen
      {100, 50, 100, 650},                  // no width
      {100, 50, 600, 40},                   // upside down
  };
  for (const WindowRect& r : rejected)
    EXPECT_EQ(ChooseFramePlacement(r, kScreen, kMetrics), Centred()) << r.left << "," << r.top;
}

TEST(PlacementTest, DefaultNeverStartsOffTheScreen) {
  const WindowRect r = ChooseFramePlacement(std::nullopt, {400, 300}, kMetrics);
  EXPECT_EQ(r.left, 0);
  EXPECT_EQ(r.top, 0);
  EXPECT_EQ(r.right - r.left, 508);
  EXPECT_EQ(r.bottom - r.top, 657);
}

TEST(PlacementTest, MinimumTrackSizeAddsTheScrollBar) {
  EXPECT_EQ(MinimumTrackSize(17), (Size{517, 400}));
}

}  // namespace
}  // namespace kv::app
