#pragma once
// Registry port. Key paths are backslash-separated below a root; names are
// compared without regard to case, as Windows does. Text is UTF-8.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_time.h"
#include "platform/status.h"

namespace kv::platform {

enum class RootKey { LocalMachine, CurrentUser, ClassesRoot };

// Which WOW64 view of a key to open; Native is the view of the calling program.
enum class RegView { Native, View64, View32 };

enum class RegType { String, ExpandString, MultiString, Dword, Qword, Binary, None };

struct RegValue {
  RegType type = RegType::None;
  std::string text;                  // String, ExpandString, MultiString (NUL-separated)
  std::uint64_t number = 0;          // Dword, Qword
  std::vector<unsigned char> bytes;  // Binary and unknown types

  static RegValue String(std::string s) { return {RegType::String, std::move(s), 0, {}}; }
  static RegValue Expand(std::string s) { return {RegType::ExpandString, std::move(s), 0, {}}; }
  static RegValue Dword(std::uint32_t v) { return {RegType::Dword, {}, v, {}}; }
  static RegValue Binary(std::vector<unsigned char> b) {
    return {RegType::Binary, {}, 0, std::move(b)};
  }
  bool IsText() const {
    return type == RegType::String || type == RegType::ExpandString ||
           type == RegType::MultiString;
  }
};

// A subkey with its last-write time: Windows sets a key's time when one of
// its values is written or deleted and when a subkey is created or deleted
// below it (not for changes further down).
struct SubKeyInfo {
  std::string name;
  FileTime last_write = 0;
};

struct NamedValue {
  std::string name;  // "" is the key's default value
  RegValue value;
};

class RegistryKey {
 public:
  virtual ~RegistryKey() = default;
  virtual std::vector<SubKeyInfo> SubKeys() = 0;
  virtual std::vector<NamedValue> Values() = 0;
  virtual std::optional<RegValue> Read(std::string_view name) = 0;
  virtual Status Write(std::string_view name, const RegValue& value) = 0;
  virtual Status DeleteValue(std::string_view name) = 0;

  std::vector<std::string> SubKeyNames();
  // Text of a string value (REG_SZ or REG_EXPAND_SZ, unexpanded).
  std::optional<std::string> ReadString(std::string_view name);
  std::optional<std::uint32_t> ReadDword(std::string_view name);
};

class Registry {
 public:
  virtual ~Registry() = default;
  // Fails with NotFound when the key does not exist, AccessDenied when it
  // may not be opened so. A key opened without `writable` may refuse Write
  // and DeleteValue.
  virtual Result<std::unique_ptr<RegistryKey>> Open(RootKey root, std::string_view path,
                                                    RegView view = RegView::Native,
                                                    bool writable = false) = 0;
  // Opens for writing, creating the key and its parents when missing.
  virtual Result<std::unique_ptr<RegistryKey>> Create(RootKey root, std::string_view path,
                                                      RegView view = RegView::Native) = 0;
  // Deletes a key with everything below it.
  virtual Status DeleteTree(RootKey root, std::string_view path,
                            RegView view = RegView::Native) = 0;

  std::optional<std::string> ReadString(RootKey root, std::string_view path,
                                        std::string_view name, RegView view = RegView::Native);
  std::optional<std::uint32_t> ReadDword(RootKey root, std::string_view path,
                                         std::string_view name, RegView view = RegView::Native);
  Status Write(RootKey root, std::string_view path, std::string_view name,
               const RegValue& value, RegView view = RegView::Native);
  Status DeleteValue(RootKey root, std::string_view path, std::string_view name,
                     RegView view = RegView::Native);
};

const char* RootKeyName(RootKey root);  // "HKEY_LOCAL_MACHINE" ...

// "HKEY_CURRENT_USER\Software\x", for messages.
std::string KeyName(RootKey root, std::string_view path);

}  // namespace kv::platform
