#pragma once
// The operating system as the core sees it: one bundle of ports. Code takes
// a Machine& (or the single port it needs) instead of calling the OS.
#include "platform/clock.h"
#include "platform/file_system.h"
#include "platform/identifiers.h"
#include "platform/registry.h"
#include "platform/shell.h"

namespace kv::platform {

struct Machine {
  Registry& registry;
  FileSystem& files;
  Shell& shell;
  Clock& clock;
  Identifiers& ids;
};

// The machine this process runs on: the real Windows adapters on Windows; on
// Linux an empty fake Windows machine (so the tools run there too).
Machine& SystemMachine();

}  // namespace kv::platform
