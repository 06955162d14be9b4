#include "platform/fake/fake_registry.h"

#include <algorithm>

namespace kv::platform {
namespace {

std::vector<std::string_view> SplitPath(std::string_view path) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    std::size_t end = path.find('\\', start);
    if (end == std::string_view::npos) end = path.size();
    if (end > start) parts.push_back(path.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

class FakeKey final : public RegistryKey {
 public:
  FakeKey(FakeRegistry& reg, std::shared_ptr<FakeRegistry::Node> node, bool writable,
          std::string name)
      : reg_(reg), node_(std::move(node)), writable_(writable), name_(std::move(name)) {}

  std::vector<SubKeyInfo> SubKeys() override {
    std::lock_guard lock(reg_.mutex());
    std::vector<SubKeyInfo> keys;
    keys.reserve(node_->children.size());
    for (auto& [_, child] : node_->children) keys.push_back({child->name, child->last_write});
    return keys;
  }

  std::vector<NamedValue> Values() override {
    std::lock_guard lock(reg_.mutex());
    return node_->values;
  }

  std::optional<RegValue> Read(std::string_view name) override {
    std::lock_guard lock(reg_.mutex());
    for (auto& v : node_->values)
      if (text::EqualsNoCase(v.name, name)) return v.value;
    return std::nullopt;
  }

  Status Write(std::string_view name, const RegValue& value) override {
    std::lock_guard lock(reg_.mutex());
    if (!writable_ || reg_.read_only()) return Denied();
    for (auto& v : node_->values)
      if (text::EqualsNoCase(v.name, name)) {
        v.value = value;
        node_->last_write = reg_.Now();
        return {};
      }
    node_->values.push_back({std::string(name), value});
    node_->last_write = reg_.Now();
    return {};
  }

  Status DeleteValue(std::string_view name) override {
    std::lock_guard lock(reg_.mutex());
    if (!writable_ || reg_.read_only()) return Denied();
    auto& vals = node_->values;
    auto it = std::find_if(vals.begin(), vals.end(),
                           [&](const NamedValue& v) { return text::EqualsNoCase(v.name, name); });
    if (it == vals.end())
      return Status::Error(ErrorKind::NotFound, name_ + " value " + std::string(name));
    vals.erase(it);
    node_->last_write = reg_.Now();
    return {};
  }

 private:
  Status Denied() const { return Status::Error(ErrorKind::AccessDenied, name_); }

  FakeRegistry& reg_;
  std::shared_ptr<FakeRegistry::Node> node_;
  bool writable_;
  std::string name_;
};

}  // namespace

FakeRegistry::FakeRegistry(Clock* clock) : clock_(clock) {
  for (auto& r : roots_) r = std::make_shared<Node>();
}

std::string FakeRegistry::ViewPath(RootKey root, std::string_view path, RegView view) {
  std::string p(path);
  while (!p.empty() && p.front() == '\\') p.erase(0, 1);
  if (view == RegView::View32 && root == RootKey::LocalMachine) {
    auto parts = SplitPath(p);
    if (!parts.empty() && text::EqualsNoCase(parts[0], "Software") &&
        !(parts.size() > 1 && text::EqualsNoCase(parts[1], "WOW6432Node"))) {
      std::string out = "Software\\WOW6432Node";
      for (std::size_t i = 1; i < parts.size(); ++i) out += "\\" + std::string(parts[i]);
      return out;
    }
  }
  return p;
}

std::shared_ptr<FakeRegistry::Node> FakeRegistry::Find(RootKey root, std::string_view path,
                                                       RegView view, bool create) {
  auto node = roots_[static_cast<int>(root)];
  const std::string viewed = ViewPath(root, path, view);
  for (auto part : SplitPath(viewed)) {
    auto it = node->children.find(part);
    if (it == node->children.end()) {
      if (!create) return nullptr;
      auto child = std::make_shared<Node>();
      child->name = std::string(part);
      child->last_write = node->last_write = Now();
      it = node->children.emplace(child->name, child).first;
    }
    node = it->second;
  }
  return node;
}

Result<std::unique_ptr<RegistryKey>> FakeRegistry::Open(RootKey root, std::string_view path,
                                                        RegView view, bool writable) {
  std::lock_guard lock(mutex_);
  auto node = Find(root, path, view, false);
  if (!node) return Status::Error(ErrorKind::NotFound, KeyName(root, path));
  const std::string viewed = ViewPath(root, path, view);
  for (const Denied& d : denied_)
    if (d.root == root && (writable || !d.writable_only) && text::EqualsNoCase(d.path, viewed))
      return Status::Error(ErrorKind::AccessDenied, KeyName(root, path));
  return std::unique_ptr<RegistryKey>(
      std::make_unique<FakeKey>(*this, std::move(node), writable, KeyName(root, path)));
}

void FakeRegistry::DenyOpen(RootKey root, std::string_view path, bool writable_only) {
  std::lock_guard lock(mutex_);
  denied_.push_back({root, ViewPath(root, path, RegView::Native), writable_only});
}

Result<std::unique_ptr<RegistryKey>> FakeRegistry::Create(RootKey root, std::string_view path,
                                                          RegView view) {
  std::lock_guard lock(mutex_);
  if (read_only_) return Status::Error(ErrorKind::AccessDenied, KeyName(root, path));
  return std::unique_ptr<RegistryKey>(
      std::make_unique<FakeKey>(*this, Find(root, path, view, true), true, KeyName(root, path)));
}

Status FakeRegistry::DeleteTree(RootKey root, std::string_view path, RegView view) {
  std::lock_guard lock(mutex_);
  if (read_only_) return Status::Error(ErrorKind::AccessDenied, KeyName(root, path));
  const std::string viewed = ViewPath(root, path, view);
  const std::size_t cut = viewed.rfind('\\');
  const std::string parent = cut == std::string::npos ? "" : viewed.substr(0, cut);
  const std::string leaf = cut == std::string::npos ? viewed : viewed.substr(cut + 1);
  auto node = leaf.empty() ? nullptr : Find(root, parent, RegView::Native, false);
  if (!node || node->children.erase(leaf) == 0)
    return Status::Error(ErrorKind::NotFound, KeyName(root, path));
  node->last_write = Now();
  return {};
}

}  // namespace kv::platform
