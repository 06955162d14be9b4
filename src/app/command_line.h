#pragma once
// How the client was started, decided from its command line alone.
#include <string>
#include <string_view>

namespace kv::app {

enum class Registration { None, RegServer, UnregServer };

struct StartRequest {
  bool autorun = false;              // tail exactly "-autorun" (case-sensitive)
  bool open_after_uninst = false;    // tail "/openafteruninstpage" (any case)
  bool do_check_updates = false;     // tail exactly "-docheckupdates" (case-sensitive)
  Registration registration = Registration::None;
  // Some argument is "-Embedding" or "/Automation" (either prefix, any case):
  // COM started the process, which then opens no window.
  bool embedding = false;

  const char* StartedBy() const { return autorun ? "autorun" : "user"; }
};

// `tail` is the argument tail after the program path, compared as one string;
// `full` is the whole command line, program path included, scanned for the
// registration tokens.
StartRequest ClassifyCommandLine(std::string_view tail, std::string_view full);

// The registration token: for each "-" or "/" in `full`, the whole rest of
// the line after it compared without regard to case with "UnregServer" and
// "RegServer".
Registration ScanRegistration(std::string_view full);

// The tail of a full command line as Windows hands it to WinMain: the
// program path (quoted or not) and the blanks after it removed.
std::string_view CommandTail(std::string_view full);

}  // namespace kv::app
