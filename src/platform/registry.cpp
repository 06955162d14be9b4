#include "platform/registry.h"

namespace kv::platform {

std::vector<std::string> RegistryKey::SubKeyNames() {
  std::vector<std::string> names;
  for (SubKeyInfo& k : SubKeys()) names.push_back(std::move(k.name));
  return names;
}

std::optional<std::string> RegistryKey::ReadString(std::string_view name) {
  auto v = Read(name);
  if (!v || (v->type != RegType::String && v->type != RegType::ExpandString)) return std::nullopt;
  return std::move(v->text);
}

std::optional<std::uint32_t> RegistryKey::ReadDword(std::string_view name) {
  auto v = Read(name);
  if (!v || v->type != RegType::Dword) return std::nullopt;
  return static_cast<std::uint32_t>(v->number);
}

std::optional<std::string> Registry::ReadString(RootKey root, std::string_view path,
                                                std::string_view name, RegView view) {
  auto key = Open(root, path, view);
  return key ? key->ReadString(name) : std::nullopt;
}

std::optional<std::uint32_t> Registry::ReadDword(RootKey root, std::string_view path,
                                                 std::string_view name, RegView view) {
  auto key = Open(root, path, view);
  return key ? key->ReadDword(name) : std::nullopt;
}

Status Registry::Write(RootKey root, std::string_view path, std::string_view name,
                       const RegValue& value, RegView view) {
  auto key = Create(root, path, view);
  if (!key) return key.status();
  return key->Write(name, value);
}

Status Registry::DeleteValue(RootKey root, std::string_view path, std::string_view name,
                             RegView view) {
  auto key = Open(root, path, view, true);
  if (!key) return key.status();
  return key->DeleteValue(name);
}

const char* RootKeyName(RootKey root) {
  switch (root) {
    case RootKey::LocalMachine: return "HKEY_LOCAL_MACHINE";
    case RootKey::CurrentUser: return "HKEY_CURRENT_USER";
    case RootKey::ClassesRoot: return "HKEY_CLASSES_ROOT";
  }
  return "";
}

std::string KeyName(RootKey root, std::string_view path) {
  std::string out = RootKeyName(root);
  if (!path.empty()) out += "\\" + std::string(path);
  return out;
}

}  // namespace kv::platform
