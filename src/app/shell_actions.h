#pragma once
// Opening pages in the browser, the clickable-link rule, and the log-on Run entry.
#include <functional>
#include <string>
#include <string_view>

#include "platform/machine.h"

namespace kv::app {

// Opens `url` in the user's default browser: the program registered for
// http (or ftp) under HKEY_CLASSES_ROOT, else the URL itself. Never fails loudly.
void OpenUrl(platform::Machine& machine, std::string_view url);

enum class LinkKind { Command, Mail, Url };

// What a clickable label does with its target: a leading digit is a command
// number for the label's parent, "mailto:" opens the mailer, anything else a page.
LinkKind ClassifyLinkTarget(std::string_view target, int* command = nullptr);

// Follows a link target; `post_command` receives command numbers.
void FollowLink(platform::Machine& machine, std::string_view target,
                const std::function<void(int)>& post_command);

inline constexpr char kRunKeyPath[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
inline constexpr char kRunValueName[] = "Korvan";

// The value "Korvan" in HKCU's Run key: the executable's full path, unquoted,
// followed by " -autorun".
class AutorunEntry {
 public:
  explicit AutorunEntry(platform::Machine& machine) : machine_(machine) {}
  bool Exists() const;
  bool Write(bool on);

 private:
  platform::Machine& machine_;
};

}  // namespace kv::app
