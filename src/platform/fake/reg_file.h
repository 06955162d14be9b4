#pragma once
// Loads registry export files ("Windows Registry Editor Version 5.00" as
// UTF-16LE or UTF-8, and "REGEDIT4") into the fake registry, so a machine
// exported on Windows can be replayed off Windows.
#include <string>
#include <string_view>

#include "platform/fake/fake_registry.h"

namespace kv::platform {

struct RegFileResult {
  bool ok = false;
  std::string error;  // "line N: ..." when not ok
  int keys = 0;
  int values = 0;
};

// Applies the export to `registry`. Keys of unknown roots (HKEY_USERS...) are skipped.
RegFileResult LoadRegFile(FakeRegistry& registry, std::string_view content);

// The export's text as UTF-8, whatever its encoding.
std::string DecodeRegFileText(std::string_view content);

}  // namespace kv::platform
