#include "app/placement.h"

namespace kv::app {

WindowRect ChooseFramePlacement(const std::optional<WindowRect>& stored, Size screen,
                                const FrameMetrics& m) {
  if (stored && stored->left > 0 && stored->top > 0 && stored->left < screen.width &&
      stored->top < screen.height && stored->right > stored->left &&
      stored->bottom > stored->top) {
    return *stored;
  }
  const int width = kDefaultClientSize.width + 2 * m.border_width;
  const int height = kDefaultClientSize.height + 2 * m.border_height + m.menu_height +
                     m.caption_height + 10;
  WindowRect r;
  r.left = (screen.width - width) / 2;
  r.top = (screen.height - height) / 2;
  // On a screen smaller than the frame, keep the caption and menu reachable.
  if (r.left < 0) r.left = 0;
  if (r.top < 0) r.top = 0;
  r.right = r.left + width;
  r.bottom = r.top + height;
  return r;
}

Size MinimumTrackSize(int vertical_scrollbar_width) {
  return {vertical_scrollbar_width + 500, 400};
}

}  // namespace kv::app
