#include "platform/fake/machine_description.h"

#include "platform/fake/fake_machine.h"
#include "text/json.h"
#include "text/utf8.h"

namespace kv::platform {

// ---- The description ------------------------------------------------------

namespace {

using text::JsonValue;
using Kind = JsonValue::Kind;

// Reads one object's members by name; anything not asked for is an error.
class Fields {
 public:
  Fields(const JsonValue& v, std::string where, std::string& error)
      : v_(v), where_(std::move(where)), error_(error) {
    if (v.kind != Kind::Object) Fail("is not an object");
  }
  bool ok() const { return ok_; }

  const JsonValue* Get(const char* key, Kind kind, bool required) {
    seen_.push_back(key);
    if (!ok_) return nullptr;
    const JsonValue* f = v_.Find(key);
    if (!f) {
      if (required) Fail(std::string("needs \"") + key + "\"");
      return nullptr;
    }
    if (f->kind != kind) {
      Fail(std::string("\"") + key + "\" has the wrong type");
      return nullptr;
    }
    return f;
  }
  // Any type; the caller checks it.
  const JsonValue* Any(const char* key) {
    seen_.push_back(key);
    return ok_ ? v_.Find(key) : nullptr;
  }
  bool String(const char* key, std::string& out, bool required) {
    if (const JsonValue* f = Get(key, Kind::String, required)) out = f->text;
    return ok_;
  }
  // Every member must have been asked for.
  bool Done() {
    if (!ok_) return false;
    for (const auto& [k, unused] : v_.members) {
      bool known = false;
      for (const char* s : seen_) known = known || k == s;
      if (!known) return Fail("has an unknown key \"" + k + "\"");
    }
    return true;
  }
  bool Fail(const std::string& what) {
    if (ok_) error_ = where_ + " " + what;
    ok_ = false;
    return false;
  }

 private:
  const JsonValue& v_;
  std::string where_;
  std::string& error_;
  std::vector<const char*> seen_;
  bool ok_ = true;
};

// "1.2.3.4" (one to four numbers up to 65535) into a fixed version.
bool ParseFixedVersion(const std::string& s, std::uint16_t out[4]) {
  for (int i = 0; i < 4; ++i) out[i] = 0;
  std::size_t pos = 0;
  for (int i = 0; i < 4; ++i) {
    const std::size_t start = pos;
    unsigned value = 0;
    while (pos < s.size() && s[pos] >= '0' && s[pos] <= '9' && pos - start < 5)
      value = value * 10 + static_cast<unsigned>(s[pos++] - '0');
    if (pos == start || value > 0xFFFF) return false;
    out[i] = static_cast<std::uint16_t>(value);
    if (pos == s.size()) return true;
    if (s[pos++] != '.') return false;
  }
  return false;
}

bool ParseTime(const JsonValue& v, FileTime& out) {
  if (v.kind == Kind::Number) {
    out = v.number;
    return !v.negative;
  }
  if (v.kind != Kind::String) return false;
  // "YYYY-MM-DDTHH:MM:SSZ", UTC.
  const std::string& s = v.text;
  if (s.size() != 20 || s[4] != '-' || s[7] != '-' || s[10] != 'T' || s[13] != ':' ||
      s[16] != ':' || s[19] != 'Z')
    return false;
  auto num = [&](std::size_t at, std::size_t n, int& value) {
    value = 0;
    for (std::size_t i = at; i < at + n; ++i) {
      if (s[i] < '0' || s[i] > '9') return false;
      value = value * 10 + (s[i] - '0');
    }
    return true;
  };
  CalendarTime c;
  if (!num(0, 4, c.year) || !num(5, 2, c.month) || !num(8, 2, c.day) || !num(11, 2, c.hour) ||
      !num(14, 2, c.minute) || !num(17, 2, c.second))
    return false;
  if (c.year < 1601 || c.month < 1 || c.month > 12 || c.day < 1 || c.day > 31 || c.hour > 23 ||
      c.minute > 59 || c.second > 59)
    return false;
  out = FromCalendar(c);
  return true;
}

bool ParseVersionSpec(const JsonValue& v, const std::string& where, VersionSpec& layout,
                      std::string& error) {
  Fields f(v, where, error);
  std::string product = "1.0.0.0", file, table = "040904b0";
  f.String("product", product, false);
  f.String("file", file, false);
  f.String("table", table, false);
  const JsonValue* strings = f.Get("strings", Kind::Array, false);
  if (!f.Done()) return false;
  if (!ParseFixedVersion(product, layout.product))
    return f.Fail("has a bad \"product\" version");
  if (file.empty()) file = product;
  if (!ParseFixedVersion(file, layout.file)) return f.Fail("has a bad \"file\" version");
  if (table.size() != 8 || table.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos)
    return f.Fail("has a bad \"table\" key");
  const auto hex = [&](std::size_t at) {
    return static_cast<std::uint16_t>(std::stoul(table.substr(at, 4), nullptr, 16));
  };
  layout.translations = {{hex(0), hex(4)}};
  VersionStrings t;
  t.table_key = table;
  if (strings) {
    for (const JsonValue& pair : strings->items) {
      if (pair.kind != Kind::Array || pair.items.size() != 2 ||
          pair.items[0].kind != Kind::String || pair.items[1].kind != Kind::String)
        return f.Fail("\"strings\" needs [name, value] pairs of strings");
      t.values.emplace_back(pair.items[0].text, pair.items[1].text);
    }
  }
  layout.tables = {std::move(t)};
  return true;
}

bool ParseExecutable(const JsonValue& v, const std::string& where, DescribedExecutable& exe,
                     std::string& error) {
  Fields f(v, where, error);
  f.String("path", exe.path, true);
  std::string content;
  const JsonValue* has_content = f.Get("content", Kind::String, false);
  const JsonValue* size = f.Get("size", Kind::Number, false);
  const JsonValue* version = f.Get("version", Kind::Object, false);
  const JsonValue* icons = f.Get("icons", Kind::Array, false);
  if (!f.Done()) return false;
  if (exe.path.empty()) return f.Fail("has an empty \"path\"");
  if (has_content) exe.content = has_content->text;
  if (size) {
    if (size->negative || size->number > 64 * 1024 * 1024) return f.Fail("has a bad \"size\"");
    exe.size = size->number;
  }
  if (version) {
    if (has_content) return f.Fail("has both \"content\" and \"version\"");
    VersionSpec layout;
    if (!ParseVersionSpec(*version, where + " version", layout, error)) return false;
    exe.version = std::move(layout);
  }
  if (icons) {
    if (has_content) return f.Fail("has both \"content\" and \"icons\"");
    // A few images at most: each one is up to 270 KB of pixels.
    constexpr std::size_t kMaxImages = 32;
    std::size_t images = 0;
    for (const JsonValue& group : icons->items) {
      if (group.kind != Kind::Array || group.items.empty())
        return f.Fail("\"icons\" needs non-empty lists of sizes");
      exe.icons.emplace_back();
      for (const JsonValue& size : group.items) {
        if (size.kind != Kind::Number || size.negative || size.number < 1 || size.number > 256)
          return f.Fail("\"icons\" needs sizes from 1 to 256");
        if (++images > kMaxImages) return f.Fail("has more than 32 icon images");
        exe.icons.back().push_back(static_cast<int>(size.number));
      }
    }
  }
  return true;
}

bool ParseShortcut(const JsonValue& v, const std::string& where, DescribedShortcut& s,
                   std::string& error) {
  Fields f(v, where, error);
  f.String("link", s.link, true);
  f.String("target", s.target, true);
  f.String("arguments", s.arguments, false);
  const JsonValue* t = f.Any("last_write");  // a FILETIME number or a UTC time text
  if (!f.Done()) return false;
  if (s.link.empty()) return f.Fail("has an empty \"link\"");
  if (t) {
    FileTime ft = 0;
    if (!ParseTime(*t, ft))
      return f.Fail("has a bad \"last_write\" (a FILETIME or \"YYYY-MM-DDTHH:MM:SSZ\")");
    s.last_write = ft;
  }
  return true;
}

}  // namespace

DescriptionResult ParseMachineDescription(std::string_view json) {
  DescriptionResult r;
  JsonValue doc;
  if (!ParseJson(json, doc, r.error)) return r;
  Fields top(doc, "the description", r.error);
  const JsonValue* folders = top.Get("folders", Kind::Array, false);
  const JsonValue* exes = top.Get("executables", Kind::Array, false);
  const JsonValue* links = top.Get("shortcuts", Kind::Array, false);
  if (!top.Done()) return r;
  MachineDescription& d = r.description;
  if (folders) {
    for (const JsonValue& f : folders->items) {
      if (f.kind != Kind::String || f.text.empty()) {
        r.error = "\"folders\" needs non-empty strings";
        return r;
      }
      d.folders.push_back(f.text);
    }
  }
  if (exes) {
    for (std::size_t i = 0; i < exes->items.size(); ++i) {
      d.executables.emplace_back();
      if (!ParseExecutable(exes->items[i], "executable " + std::to_string(i), d.executables.back(),
                           r.error))
        return r;
    }
  }
  if (links) {
    for (std::size_t i = 0; i < links->items.size(); ++i) {
      d.shortcuts.emplace_back();
      if (!ParseShortcut(links->items[i], "shortcut " + std::to_string(i), d.shortcuts.back(),
                         r.error))
        return r;
    }
  }
  r.ok = true;
  return r;
}

// ---- Applying it ----------------------------------------------------------

std::string ExpandFolderPlaceholders(std::string_view text, Shell& shell) {
  static const std::pair<std::string_view, SpecialFolder> kNames[] = {
      {"{Programs}", SpecialFolder::Programs},
      {"{CommonPrograms}", SpecialFolder::CommonPrograms},
      {"{StartMenu}", SpecialFolder::StartMenu},
      {"{CommonStartMenu}", SpecialFolder::CommonStartMenu},
      {"{Desktop}", SpecialFolder::Desktop},
      {"{CommonDesktop}", SpecialFolder::CommonDesktop},
      {"{AppData}", SpecialFolder::RoamingAppData},
      {"{LocalAppData}", SpecialFolder::LocalAppData},
      {"{ProgramFiles}", SpecialFolder::ProgramFiles},
      {"{ProgramFilesX86}", SpecialFolder::ProgramFilesX86},
      {"{Windows}", SpecialFolder::Windows},
      {"{System}", SpecialFolder::System},
  };
  std::string out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t open = text.find('{', pos);
    if (open == std::string_view::npos) break;
    out += text.substr(pos, open - pos);
    pos = open;
    bool replaced = false;
    for (const auto& [name, folder] : kNames) {
      if (text.substr(open, name.size()) != name) continue;
      if (auto path = shell.GetFolder(folder)) {
        out += *path;
        pos = open + name.size();
        replaced = true;
      }
      break;
    }
    if (!replaced) out += text[pos++];
  }
  out += text.substr(pos);
  return out;
}

std::string ExecutableImage(const DescribedExecutable& exe) {
  std::string image;
  if (exe.content) {
    image = *exe.content;
  } else {
    std::vector<IconGroupSpec> groups;
    for (std::size_t i = 0; i < exe.icons.size(); ++i)
      groups.push_back({static_cast<std::uint16_t>(i + 1), "", exe.icons[i]});
    const std::string block = exe.version ? BuildVersionBlock(*exe.version) : "";
    image = BuildPeImage(exe.version ? &block : nullptr, groups);
  }
  if (image.size() < exe.size) image.resize(static_cast<std::size_t>(exe.size), '\0');
  return image;
}

void ApplyToFakeMachine(const MachineDescription& d, FakeFileSystem& files, FakeShell& shell) {
  for (const auto& folder : d.folders) files.AddFolder(ExpandFolderPlaceholders(folder, shell));
  for (const auto& exe : d.executables)
    files.AddFile(ExpandFolderPlaceholders(exe.path, shell), ExecutableImage(exe));
  for (const auto& s : d.shortcuts) {
    const std::string link = ExpandFolderPlaceholders(s.link, shell);
    shell.AddShortcut(link, ExpandFolderPlaceholders(s.target, shell),
                      ExpandFolderPlaceholders(s.arguments, shell));
    if (s.last_write) files.SetLastWrite(link, *s.last_write);
  }
}

Result<int> CopyRegistryExpanded(Registry& from, Registry& to, Shell& shell) {
  int written = 0;
  for (RootKey root : {RootKey::LocalMachine, RootKey::CurrentUser, RootKey::ClassesRoot}) {
    // Iterative: an export may nest keys deeper than the stack allows.
    std::vector<std::string> pending{""};
    while (!pending.empty()) {
      const std::string path = std::move(pending.back());
      pending.pop_back();
      std::vector<NamedValue> values;
      std::vector<std::string> subkeys;
      {
        auto src = from.Open(root, path);
        if (!src) continue;
        values = src->Values();
        subkeys = src->SubKeyNames();
      }
      if (!path.empty()) {
        auto dst = to.Create(root, path);
        if (!dst) return dst.status();
        for (NamedValue v : values) {
          if (v.value.IsText()) v.value.text = ExpandFolderPlaceholders(v.value.text, shell);
          if (Status wrote = dst->Write(v.name, v.value); !wrote) return wrote;
          ++written;
        }
      }
      for (auto it = subkeys.rbegin(); it != subkeys.rend(); ++it)
        pending.push_back(path.empty() ? *it : path + "\\" + *it);
    }
  }
  return written;
}

}  // namespace kv::platform
