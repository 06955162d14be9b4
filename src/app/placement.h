#pragma once
// Where the main frame opens: the stored rectangle when it is usable, else a
// 500 x 600 client area centred on the screen.
#include <optional>

#include "app/settings.h"

namespace kv::app {

struct Size {
  int width = 0, height = 0;
  bool operator==(const Size&) const = default;
};

// Sizes of the frame's non-client parts, from the system metrics.
struct FrameMetrics {
  int border_width = 0;   // each side
  int border_height = 0;  // top and bottom each
  int caption_height = 0;
  int menu_height = 0;
};

inline constexpr Size kDefaultClientSize{500, 600};

// The stored rectangle is used when left and top are both above 0 and below
// the screen's width and height and it has a positive size; otherwise the
// default size, centred.
WindowRect ChooseFramePlacement(const std::optional<WindowRect>& stored, Size screen,
                                const FrameMetrics& metrics);

// The smallest size the user may drag the frame to.
Size MinimumTrackSize(int vertical_scrollbar_width);

}  // namespace kv::app
