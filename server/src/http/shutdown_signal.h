#pragma once
// SIGTERM and SIGINT as an event the program waits for, so that a stop
// request ends in FrontEnd::Stop (requests in flight finish) instead of the
// process dying mid-answer. The signal handler only writes the signal's
// number to a pipe; Wait reads it on an ordinary thread.
#include <chrono>
#include <memory>
#include <optional>

#include "platform/status.h"

namespace kv::server {

class ShutdownSignal {
 public:
  // Catches SIGTERM and SIGINT until the object is gone, when the previous
  // handling comes back. One at a time per process (AlreadyExists).
  static platform::Result<std::unique_ptr<ShutdownSignal>> Install();
  ~ShutdownSignal();
  ShutdownSignal(const ShutdownSignal&) = delete;
  ShutdownSignal& operator=(const ShutdownSignal&) = delete;

  // The number of the next signal caught (also one caught before the call);
  // nullopt when `timeout` passed first.
  std::optional<int> Wait(std::chrono::milliseconds timeout = std::chrono::milliseconds::max());

 private:
  ShutdownSignal() = default;
};

}  // namespace kv::server
