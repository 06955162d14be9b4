#pragma once
// Nested progress of long operations as one percentage: each operation
// divides the share its caller gave it into equal phases.
#include <atomic>
#include <vector>

namespace kv::app {

class ProgressRange {
 public:
  virtual ~ProgressRange() = default;
  double lower() const { return lower_; }
  double upper() const { return upper_; }
  // Read by other threads without a lock; they take whatever value they find.
  double current() const { return current_.load(std::memory_order_relaxed); }
  void set_current(double v) { current_.store(v, std::memory_order_relaxed); }
  // Called after every change of the current value by advance/set_done.
  virtual bool changed() { return true; }

 private:
  double lower_ = 0.0;
  double upper_ = 100.0;
  std::atomic<double> current_{0.0};
};

class ProgressTracker {
 public:
  struct Frame {
    double base;
    double step;
    unsigned done;
  };

  explicit ProgressTracker(ProgressRange& range) : range_(range) {}
  static ProgressTracker& instance();

  void reset();
  void begin(unsigned n);
  bool advance(unsigned k = 1);
  bool set_done(unsigned k);
  void end();
  ProgressRange& range() { return range_; }
  std::size_t depth() const { return frames_.size(); }

 private:
  ProgressRange& range_;
  std::vector<Frame> frames_;  // touched only by the thread running the operation
};

}  // namespace kv::app
