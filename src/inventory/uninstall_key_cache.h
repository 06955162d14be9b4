#pragma once
// What the uninstall scan made of each subkey, kept so that a later scan
// reads and checks again only what may have changed. Shared by every
// scanner of one machine (the store's, the change test's and the
// inventory's), and saved in "ukeyscan.xml" between runs.
//
// A subkey's record holds its last-write time, the entry it gave (or that it
// gave none) and the proofs of every file-system and shell answer the entry
// was derived from: a path's attributes, a folder's last-write time (which
// changes when a name in it is added, removed or renamed), a search-path
// lookup, an environment expansion. A record is reused only when the
// subkey's time is the same and every proof still gives the same answer;
// those answers are asked once per scan however many records share them.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "app/data_folder.h"
#include "inventory/uninstall_scanner.h"
#include "platform/machine.h"

namespace kv::inventory {

inline constexpr std::string_view kUninstallKeyCacheFile = "ukeyscan.xml";

class UninstallKeyCache {
 public:
  // A time closer than this to the scan's start may be followed by a change
  // within the same clock tick (FAT keeps two seconds), so it is not trusted.
  static constexpr platform::FileTime kSettleTicks = 2 * 10'000'000ull;

  // One answer an entry depends on. `expected` is the answer in a compact
  // text form; see Answer() in the .cpp.
  struct Proof {
    enum class Kind : std::uint8_t { Attributes, FolderTime, Search, Expand };
    Kind kind;
    std::string subject;    // path, name searched for, or text expanded
    std::string extension;  // Search only
    std::string expected;
    bool operator==(const Proof&) const = default;
  };

  struct Record {
    platform::FileTime last_write = 0;
    std::optional<UninstallEntry> entry;  // none: the subkey lists no program
    std::vector<Proof> proofs;
    std::uint64_t seen = 0;  // the last scan that met the subkey
  };

  using KeyId = std::tuple<int, int, std::string>;  // root, view, subkey name

  UninstallKeyCache() = default;
  UninstallKeyCache(const UninstallKeyCache&) = delete;
  UninstallKeyCache& operator=(const UninstallKeyCache&) = delete;

  std::size_t size() const { return records_.size(); }
  void Clear();
  // Whether the records differ from what Load read or Save wrote.
  bool changed() const { return changed_; }
  // Subkeys the last scan took from a record and those it read.
  std::size_t reused() const { return reused_; }
  std::size_t read() const { return read_; }

  // Reads "ukeyscan.xml"; records of another layout or Windows folder are dropped.
  void Load(app::DataFolder& folder);
  // Writes it through the ".bak" sequence when the records changed.
  platform::Status Save(app::DataFolder& folder);

 private:
  friend class UninstallKeyScan;
  std::map<KeyId, Record> records_;
  std::string windows_folder_;
  std::uint64_t scans_ = 0;
  std::size_t reused_ = 0, read_ = 0;
  bool changed_ = false;
};

// One scan over the three lists. Records met by the scan are reused or
// replaced; the others are dropped when the scan ends.
class UninstallKeyScan {
 public:
  UninstallKeyScan(UninstallKeyCache& cache, platform::Machine& machine, std::string_view windows_folder);
  ~UninstallKeyScan();
  UninstallKeyScan(const UninstallKeyScan&) = delete;
  UninstallKeyScan& operator=(const UninstallKeyScan&) = delete;

  // The record's entry when the subkey's time and every proof still hold;
  // nullptr when the subkey must be read again.
  const std::optional<UninstallEntry>* Reuse(platform::RootKey root, platform::RegView view,
                                             const platform::SubKeyInfo& key);
  // The machine to derive an entry through: its file-system and shell
  // answers become the proofs of the next Store.
  platform::Machine& recorder();
  void Store(platform::RootKey root, platform::RegView view, const platform::SubKeyInfo& key,
             std::optional<UninstallEntry> entry);

  // Answers, asked once per scan (also for the recorder).
  std::optional<platform::FileInfo> Info(const std::string& path);
  std::string Answer(const UninstallKeyCache::Proof& proof);

 private:
  class Recorder;
  UninstallKeyCache& cache_;
  platform::Machine& machine_;
  platform::FileTime now_;
  std::map<std::string, std::optional<platform::FileInfo>> info_;
  std::map<std::pair<std::string, std::string>, std::string> answers_;
  std::unique_ptr<Recorder> recorder_;
};

}  // namespace kv::inventory
