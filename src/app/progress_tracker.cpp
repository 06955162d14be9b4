#include "app/progress_tracker.h"

namespace kv::app {

ProgressTracker& ProgressTracker::instance() {
  static ProgressRange* range = new ProgressRange();
  static ProgressTracker* tracker = new ProgressTracker(*range);
  return *tracker;
}

void ProgressTracker::reset() {
  range_.set_current(range_.lower());
  frames_.clear();
}

void ProgressTracker::begin(unsigned n) {
  if (frames_.empty()) reset();
  const double span = frames_.empty() ? range_.upper() - range_.lower() : frames_.back().step;
  // n >= 1 by contract; a zero would divide by zero, so treat it as one unit.
  frames_.push_back({range_.current(), span / (n ? n : 1), 0});
}

bool ProgressTracker::advance(unsigned k) {
  if (frames_.empty()) return false;
  Frame& top = frames_.back();
  top.done += k;
  range_.set_current(top.base + top.done * top.step);
  return range_.changed();
}

bool ProgressTracker::set_done(unsigned k) {
  if (frames_.empty()) return false;
  frames_.back().done = 0;
  return advance(k);
}

void ProgressTracker::end() {
  if (!frames_.empty()) frames_.pop_back();
}

}  // namespace kv::app
