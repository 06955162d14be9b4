#include "app/command_line.h"

#include "text/compare.h"

namespace kv::app {

Registration ScanRegistration(std::string_view full) {
  for (std::size_t i = full.find_first_of("-/"); i != std::string_view::npos;
       i = full.find_first_of("-/", i + 1)) {
    const std::string_view rest = full.substr(i + 1);
    if (text::EqualsNoCase(rest, "UnregServer")) return Registration::UnregServer;
    if (text::EqualsNoCase(rest, "RegServer")) return Registration::RegServer;
  }
  return Registration::None;
}

namespace {

bool HasEmbeddingFlag(std::string_view tail) {
  std::size_t i = 0;
  while (i < tail.size()) {
    while (i < tail.size() && (tail[i] == ' ' || tail[i] == '\t')) ++i;
    std::size_t end = i;
    while (end < tail.size() && tail[end] != ' ' && tail[end] != '\t') ++end;
    const std::string_view arg = tail.substr(i, end - i);
    if (arg.size() > 1 && (arg[0] == '-' || arg[0] == '/') &&
        (text::EqualsNoCase(arg.substr(1), "Embedding") ||
         text::EqualsNoCase(arg.substr(1), "Automation")))
      return true;
    i = end;
  }
  return false;
}

}  // namespace

StartRequest ClassifyCommandLine(std::string_view tail, std::string_view full) {
  StartRequest r;
  r.autorun = tail == "-autorun";
  r.open_after_uninst = text::EqualsNoCase(tail, "/openafteruninstpage");
  r.do_check_updates = tail == "-docheckupdates";
  r.registration = ScanRegistration(full);
  r.embedding = HasEmbeddingFlag(tail);
  return r;
}

std::string_view CommandTail(std::string_view full) {
  std::size_t i = 0;
  if (!full.empty() && full[0] == '"') {
    const std::size_t close = full.find('"', 1);
    i = close == std::string_view::npos ? full.size() : close + 1;
  } else {
    while (i < full.size() && full[i] != ' ' && full[i] != '\t') ++i;
  }
  while (i < full.size() && (full[i] == ' ' || full[i] == '\t')) ++i;
  return full.substr(i);
}

}  // namespace kv::app
