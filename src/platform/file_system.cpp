#include "platform/file_system.h"

#include "text/chars.h"
#include "text/utf8.h"

namespace kv::platform {

Status FileSystem::WriteAll(std::string_view path, std::string_view data) {
  auto f = OpenWrite(path, OpenMode::CreateAlways);
  if (!f) return f.status();
  Status wrote = f->Write(data);
  Status closed = f->Close();
  return wrote ? closed : wrote;
}

std::string WithTrailingBackslash(std::string_view folder) {
  std::string out(folder);
  if (!out.empty() && out.back() != '\\') out += '\\';
  return out;
}

namespace {

bool Match(std::u32string_view n, std::u32string_view p) {
  // Iterative wildcard match with backtracking on the last '*'.
  std::size_t i = 0, j = 0, star = std::u32string_view::npos, mark = 0;
  while (i < n.size()) {
    if (j < p.size() && (p[j] == U'?' || p[j] == n[i])) {
      ++i, ++j;
    } else if (j < p.size() && p[j] == U'*') {
      star = j++, mark = i;
    } else if (star != std::u32string_view::npos) {
      j = star + 1, i = ++mark;
    } else {
      return false;
    }
  }
  while (j < p.size() && p[j] == U'*') ++j;
  return j == p.size();
}

std::u32string Folded(std::string_view s) {
  std::u32string out;
  for (std::size_t pos = 0; pos < s.size();) out += text::ToUpper(text::DecodeNext(s, pos));
  return out;
}

}  // namespace

bool MatchesPattern(std::string_view name, std::string_view pattern) {
  if (pattern == "*" || pattern == "*.*") return true;
  return Match(Folded(name), Folded(pattern));
}

}  // namespace kv::platform
