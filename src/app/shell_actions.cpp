#include "app/shell_actions.h"

#include <cstdlib>

#include "text/chars.h"
#include "text/compare.h"

namespace kv::app {

using platform::RegValue;
using platform::RootKey;
using platform::ShowCommand;

namespace {

constexpr std::size_t kMaxCommandBytes = 260;

}  // namespace

void OpenUrl(platform::Machine& machine, std::string_view url) {
  const char* protocol = text::StartsWithNoCase(url, "http") ? "http" : "ftp";
  auto command = machine.registry.ReadString(RootKey::ClassesRoot,
                                             std::string(protocol) + "\\shell\\open\\command", "");
  if (command && command->size() <= kMaxCommandBytes) {
    std::string lower = text::ToLower(*command);
    const std::size_t exe = lower.find(".exe");
    if (exe != std::string::npos) {
      lower.resize(exe + 4);
      std::string_view program = lower;
      if (!program.empty() && program.front() == '"') program.remove_prefix(1);
      if (machine.shell.Execute("open", program, url, ShowCommand::Normal) > 32) return;
    }
  }
  machine.shell.Execute("open", url, "", ShowCommand::Normal);
}

LinkKind ClassifyLinkTarget(std::string_view target, int* command) {
  if (!target.empty() && text::IsDigit(static_cast<unsigned char>(target[0]))) {
    if (command) *command = std::atoi(std::string(target).c_str());
    return LinkKind::Command;
  }
  if (text::StartsWithNoCase(target, "mailto:")) return LinkKind::Mail;
  return LinkKind::Url;
}

void FollowLink(platform::Machine& machine, std::string_view target,
                const std::function<void(int)>& post_command) {
  int command = 0;
  switch (ClassifyLinkTarget(target, &command)) {
    case LinkKind::Command:
      if (post_command) post_command(command);
      break;
    case LinkKind::Mail:
      machine.shell.Execute("open", target, "", ShowCommand::Normal, /*on_desktop_window=*/true);
      break;
    case LinkKind::Url:
      OpenUrl(machine, target);
      break;
  }
}

bool AutorunEntry::Exists() const {
  auto key = machine_.registry.Open(RootKey::CurrentUser, kRunKeyPath);
  return key && key->Read(kRunValueName).has_value();
}

bool AutorunEntry::Write(bool on) {
  if (!on) {
    auto key = machine_.registry.Open(RootKey::CurrentUser, kRunKeyPath, platform::RegView::Native,
                                      /*writable=*/true);
    return key && key->DeleteValue(kRunValueName).ok();
  }
  return machine_.registry
      .Write(RootKey::CurrentUser, kRunKeyPath, kRunValueName,
             RegValue::String(machine_.shell.ExecutablePath() + " -autorun"))
      .ok();
}

}  // namespace kv::app
