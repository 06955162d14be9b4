// The machine-description reader on arbitrary bytes: nothing may crash, a
// rejected input says where, and an accepted one applies to a fake machine
// with its last shortcut readable where it was written.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/fake/fake_machine.h"
#include "platform/fake/machine_description.h"

using namespace kv;

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const platform::DescriptionResult r = platform::ParseMachineDescription(text);
  if (!r.ok) {
    Check(!r.error.empty());
    return 0;
  }
  const platform::MachineDescription& d = r.description;
  // Large padding is legal but only slows the fuzzer down.
  for (const auto& exe : d.executables)
    if (exe.size > (1u << 20)) return 0;
  platform::FakeMachine m;
  platform::ApplyToFakeMachine(d, m.files, m.shell);
  for (const auto& exe : d.executables) Check(platform::ExecutableImage(exe).size() >= exe.size);
  // The last shortcut written is the one its path holds, whenever the path
  // could be written at all.
  if (!d.shortcuts.empty()) {
    const auto& s = d.shortcuts.back();
    const std::string target = platform::ExpandFolderPlaceholders(s.target, m.shell);
    const std::string link = platform::ExpandFolderPlaceholders(s.link, m.shell);
    if (m.files.ReadAll(link) && target.find("\r\n") == std::string::npos) {
      auto read = m.shell.ReadShellLink(link);
      Check(read && read->path == target);
    }
  }
  return 0;
}
