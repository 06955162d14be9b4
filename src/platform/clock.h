#pragma once
#include "platform/file_time.h"

namespace kv::platform {

class Clock {
 public:
  virtual ~Clock() = default;
  virtual FileTime NowUtc() = 0;
  virtual FileTime NowLocal() = 0;
};

}  // namespace kv::platform
