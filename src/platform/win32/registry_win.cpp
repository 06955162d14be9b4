#include <windows.h>

#include <vector>

#include "platform/win32/error_win.h"
#include "platform/win32/scoped_win.h"
#include "platform/win32/wide.h"
#include "platform/win32/win32_adapters.h"

namespace kv::platform::win32 {
namespace {

HKEY RootHandle(RootKey root) {
  switch (root) {
    case RootKey::LocalMachine: return HKEY_LOCAL_MACHINE;
    case RootKey::CurrentUser: return HKEY_CURRENT_USER;
    case RootKey::ClassesRoot: return HKEY_CLASSES_ROOT;
  }
  return HKEY_CURRENT_USER;
}

REGSAM ViewFlag(RegView view) {
  switch (view) {
    case RegView::View64: return KEY_WOW64_64KEY;
    case RegView::View32: return KEY_WOW64_32KEY;
    case RegView::Native: return 0;
  }
  return 0;
}

RegValue Decode(DWORD type, const std::vector<BYTE>& data, DWORD size) {
  RegValue v;
  auto wide_text = [&]() {
    std::wstring w(reinterpret_cast<const wchar_t*>(data.data()), size / sizeof(wchar_t));
    // Stored strings may or may not carry their terminating zero.
    while (!w.empty() && w.back() == L'\0') w.pop_back();
    return Narrow(w);
  };
  switch (type) {
    case REG_SZ: v.type = RegType::String; v.text = wide_text(); break;
    case REG_EXPAND_SZ: v.type = RegType::ExpandString; v.text = wide_text(); break;
    case REG_MULTI_SZ: v.type = RegType::MultiString; v.text = wide_text(); break;
    case REG_DWORD:
      v.type = RegType::Dword;
      if (size >= 4) v.number = *reinterpret_cast<const DWORD*>(data.data());
      break;
    case REG_QWORD:
      v.type = RegType::Qword;
      if (size >= 8) v.number = *reinterpret_cast<const unsigned long long*>(data.data());
      break;
    default:
      v.type = RegType::Binary;
      v.bytes.assign(data.begin(), data.begin() + size);
      break;
  }
  return v;
}

class Win32Key final : public RegistryKey {
 public:
  Win32Key(ScopedHKey key, std::string name)
      : owner_(std::move(key)), key_(owner_.get()), name_(std::move(name)) {}

  std::vector<SubKeyInfo> SubKeys() override {
    std::vector<SubKeyInfo> keys;
    wchar_t name[256];
    for (DWORD i = 0;; ++i) {
      DWORD len = 256;
      FILETIME written{};
      const LONG rc = RegEnumKeyExW(key_, i, name, &len, nullptr, nullptr, nullptr, &written);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc == ERROR_SUCCESS)
        keys.push_back({Narrow({name, len}), (static_cast<FileTime>(written.dwHighDateTime) << 32) |
                                                 written.dwLowDateTime});
      else if (rc != ERROR_MORE_DATA) break;
    }
    return keys;
  }

  std::vector<NamedValue> Values() override {
    std::vector<NamedValue> out;
    DWORD max_name = 0, max_data = 0;
    if (RegQueryInfoKeyW(key_, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                         &max_name, &max_data, nullptr, nullptr) != ERROR_SUCCESS)
      return out;
    std::vector<wchar_t> name(max_name + 2);
    std::vector<BYTE> data(max_data + 4);
    for (DWORD i = 0;; ++i) {
      DWORD name_len = static_cast<DWORD>(name.size());
      DWORD size = static_cast<DWORD>(data.size());
      DWORD type = 0;
      const LONG rc = RegEnumValueW(key_, i, name.data(), &name_len, nullptr, &type, data.data(), &size);
      if (rc == ERROR_NO_MORE_ITEMS) break;
      if (rc == ERROR_MORE_DATA) {  // grew since the query: retry this index bigger
        name.resize(name.size() * 2 + 256);
        data.resize(data.size() * 2 + 256);
        --i;
        continue;
      }
      if (rc != ERROR_SUCCESS) break;
      out.push_back({Narrow({name.data(), name_len}), Decode(type, data, size)});
    }
    return out;
  }

  std::optional<RegValue> Read(std::string_view name) override {
    const std::wstring wname = Widen(name);
    std::vector<BYTE> data(512);
    for (int attempt = 0; attempt < 4; ++attempt) {
      DWORD type = 0, size = static_cast<DWORD>(data.size());
      const LONG rc = RegQueryValueExW(key_, wname.c_str(), nullptr, &type, data.data(), &size);
      if (rc == ERROR_SUCCESS) return Decode(type, data, size);
      if (rc != ERROR_MORE_DATA) return std::nullopt;
      data.resize(size + 4);
    }
    return std::nullopt;
  }

  Status Write(std::string_view name, const RegValue& value) override {
    const std::wstring wname = Widen(name);
    LONG rc = ERROR_INVALID_PARAMETER;
    switch (value.type) {
      case RegType::String:
      case RegType::ExpandString:
      case RegType::MultiString: {
        std::wstring w = Widen(value.text);
        w.push_back(L'\0');  // stored with its terminating zero
        if (value.type == RegType::MultiString) w.push_back(L'\0');
        const DWORD type = value.type == RegType::String ? REG_SZ
                           : value.type == RegType::ExpandString ? REG_EXPAND_SZ : REG_MULTI_SZ;
        rc = RegSetValueExW(key_, wname.c_str(), 0, type, reinterpret_cast<const BYTE*>(w.data()),
                            static_cast<DWORD>(w.size() * sizeof(wchar_t)));
        break;
      }
      case RegType::Dword: {
        const DWORD d = static_cast<DWORD>(value.number);
        rc = RegSetValueExW(key_, wname.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&d), 4);
        break;
      }
      case RegType::Qword: {
        const unsigned long long q = value.number;
        rc = RegSetValueExW(key_, wname.c_str(), 0, REG_QWORD, reinterpret_cast<const BYTE*>(&q), 8);
        break;
      }
      case RegType::Binary:
        rc = RegSetValueExW(key_, wname.c_str(), 0, REG_BINARY, value.bytes.data(),
                            static_cast<DWORD>(value.bytes.size()));
        break;
      case RegType::None:
        break;
    }
    if (rc == ERROR_SUCCESS) return {};
    return ErrorStatus(static_cast<DWORD>(rc), name_ + " value " + std::string(name));
  }

  Status DeleteValue(std::string_view name) override {
    const LONG rc = RegDeleteValueW(key_, Widen(name).c_str());
    if (rc == ERROR_SUCCESS) return {};
    return ErrorStatus(static_cast<DWORD>(rc), name_ + " value " + std::string(name));
  }

 private:
  ScopedHKey owner_;
  HKEY key_;          // owner_'s key, for the calls above
  std::string name_;  // for messages
};

}  // namespace

Result<std::unique_ptr<RegistryKey>> Win32Registry::Open(RootKey root, std::string_view path,
                                                         RegView view, bool writable) {
  ScopedHKey key;
  const REGSAM access = (writable ? KEY_READ | KEY_WRITE : KEY_READ) | ViewFlag(view);
  const LONG rc = RegOpenKeyExW(RootHandle(root), Widen(path).c_str(), 0, access, key.put());
  if (rc != ERROR_SUCCESS) return ErrorStatus(static_cast<DWORD>(rc), KeyName(root, path));
  return std::unique_ptr<RegistryKey>(
      std::make_unique<Win32Key>(std::move(key), KeyName(root, path)));
}

Result<std::unique_ptr<RegistryKey>> Win32Registry::Create(RootKey root, std::string_view path,
                                                           RegView view) {
  ScopedHKey key;
  const LONG rc =
      RegCreateKeyExW(RootHandle(root), Widen(path).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                      KEY_READ | KEY_WRITE | ViewFlag(view), nullptr, key.put(), nullptr);
  if (rc != ERROR_SUCCESS) return ErrorStatus(static_cast<DWORD>(rc), KeyName(root, path));
  return std::unique_ptr<RegistryKey>(
      std::make_unique<Win32Key>(std::move(key), KeyName(root, path)));
}

Status Win32Registry::DeleteTree(RootKey root, std::string_view path, RegView view) {
  std::string p(path);
  const std::size_t cut = p.rfind('\\');
  const std::string parent = cut == std::string::npos ? "" : p.substr(0, cut);
  const std::string leaf = cut == std::string::npos ? p : p.substr(cut + 1);
  ScopedHKey owner;
  const LONG opened = RegOpenKeyExW(RootHandle(root), Widen(parent).c_str(), 0,
                                    KEY_READ | KEY_WRITE | DELETE | ViewFlag(view), owner.put());
  if (opened != ERROR_SUCCESS) return ErrorStatus(static_cast<DWORD>(opened), KeyName(root, path));
  const HKEY key = owner.get();
  // RegDeleteTreeW empties the key; RegDeleteKeyExW then removes it in the right view.
  LONG rc = RegDeleteTreeW(key, Widen(leaf).c_str());
  if (rc == ERROR_SUCCESS) {
    const LONG gone = RegDeleteKeyExW(key, Widen(leaf).c_str(), ViewFlag(view), 0);
    if (gone != ERROR_SUCCESS && gone != ERROR_FILE_NOT_FOUND) rc = gone;
  }
  if (rc == ERROR_SUCCESS) return {};
  return ErrorStatus(static_cast<DWORD>(rc), KeyName(root, path));
}

}  // namespace kv::platform::win32
