#pragma once
// In-memory registry with Windows semantics: case-insensitive names, values
// kept in the order they were written, and the 32-bit view of HKLM\Software
// living under Software\WOW6432Node as on 64-bit Windows. Each key has a
// last-write time from the clock it is given, updated as Windows does: a
// value written or deleted stamps its key, a subkey created or deleted
// stamps its parent (and a new key itself). Without a clock every time is 0.
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/registry.h"
#include "text/compare.h"

namespace kv::platform {

class FakeRegistry final : public Registry {
 public:
  struct Node {
    std::string name;
    std::map<std::string, std::shared_ptr<Node>, text::LessNoCase> children;
    std::vector<NamedValue> values;
    FileTime last_write = 0;
  };

  explicit FakeRegistry(Clock* clock = nullptr);

  Result<std::unique_ptr<RegistryKey>> Open(RootKey root, std::string_view path,
                                            RegView view = RegView::Native,
                                            bool writable = false) override;
  Result<std::unique_ptr<RegistryKey>> Create(RootKey root, std::string_view path,
                                              RegView view = RegView::Native) override;
  Status DeleteTree(RootKey root, std::string_view path,
                    RegView view = RegView::Native) override;

  // When set, every write, create and delete fails (a locked-down profile).
  void SetReadOnly(bool read_only) { read_only_ = read_only; }
  bool read_only() const { return read_only_; }

  // Opening the key at `path` (as stored) fails with AccessDenied; with
  // `writable_only` only opening it for writing does, as a machine-wide key
  // refuses a user without administrator rights.
  void DenyOpen(RootKey root, std::string_view path, bool writable_only = false);

  // The path as stored, with the WOW64 view applied.
  static std::string ViewPath(RootKey root, std::string_view path, RegView view);

  std::recursive_mutex& mutex() { return mutex_; }
  FileTime Now() { return clock_ ? clock_->NowUtc() : 0; }

 private:
  std::shared_ptr<Node> Find(RootKey root, std::string_view path, RegView view, bool create);

  Clock* clock_;
  std::shared_ptr<Node> roots_[3];
  bool read_only_ = false;
  struct Denied {
    RootKey root;
    std::string path;
    bool writable_only;
  };
  std::vector<Denied> denied_;
  std::recursive_mutex mutex_;
};

}  // namespace kv::platform
