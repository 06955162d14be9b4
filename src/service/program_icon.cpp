#include "service/program_icon.h"

#include <charconv>

namespace kv::service {

IconSource ParseIconSource(std::string_view icon_file) {
  std::string text(icon_file);
  if (!text.empty() && text.front() == '"') {
    text.erase(0, 1);
    const std::size_t close = text.find('"');
    if (close != std::string::npos) text.erase(close, 1);
  }
  IconSource out;
  const std::size_t comma = text.rfind(',');
  if (comma != std::string::npos) {
    std::string_view number = std::string_view(text).substr(comma + 1);
    std::string_view digits = number.substr(!number.empty() && number.front() == '-' ? 1 : 0);
    const bool all_digits =
        !digits.empty() && digits.find_first_not_of("0123456789") == std::string_view::npos;
    int index = 0;
    if (all_digits &&
        std::from_chars(number.data(), number.data() + number.size(), index).ec == std::errc()) {
      out.index = index;
      text.erase(comma);
    }
  }
  out.path = std::move(text);
  return out;
}

ExtractedIcon ExtractProgramIcon(platform::Shell& shell, const SoftwareInfo& program,
                                 platform::IconSize size) {
  const IconSource source = ParseIconSource(program.rti.IconFile);
  auto from = [&](const IconSource& s) -> ExtractedIcon {
    if (s.path.empty()) return {};
    return {shell.ExtractFileIcon(s.path, s.index, size), s};
  };
  if (!program.rti.IconFileIsUninstaller) {
    if (ExtractedIcon e = from(source); e.icon) return e;
  }
  if (ExtractedIcon e = from({program.rti.cmdline.Path, 0}); e.icon) return e;
  if (program.rti.IconFileIsUninstaller) {
    if (ExtractedIcon e = from(source); e.icon) return e;
  }
  return {};
}

}  // namespace kv::service
