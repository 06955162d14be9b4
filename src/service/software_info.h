#pragma once
// One program of the software list: what the inventory found, what the web
// service said about it, the user's notification choices and the work and
// notifications pending for it.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "inventory/command_line.h"
#include "inventory/file_version_info.h"
#include "inventory/uninstall_scanner.h"
#include "inventory/version.h"
#include "platform/file_time.h"
#include "platform/shell.h"

namespace kv::service {

// Flags: the user's notification choices and the service's marks.
namespace flag {
inline constexpr std::uint32_t kNotifyComments = 0x02;
inline constexpr std::uint32_t kNotifyQuestions = 0x04;
inline constexpr std::uint32_t kNotifyFourth = 0x08;  // stored, offered nowhere
inline constexpr std::uint32_t kNotifyVersions = 0x10;
inline constexpr std::uint32_t kNotifyAnswers = 0x20;
inline constexpr std::uint32_t kAddedLater = 0x40;  // appeared after the first fill
inline constexpr std::uint32_t kVersionUnknown = 0x80;
inline constexpr std::uint32_t kIgnored = 0x100;
inline constexpr std::uint32_t kDefault = kNotifyVersions;
}  // namespace flag

// State: pending work and pending notifications.
namespace state {
inline constexpr std::uint32_t kNewComments = 0x01;
inline constexpr std::uint32_t kNewQuestions = 0x02;
inline constexpr std::uint32_t kFourthPending = 0x04;
inline constexpr std::uint32_t kNewVersion = 0x08;
inline constexpr std::uint32_t kIconWanted = 0x10;
inline constexpr std::uint32_t kHistoryPending = 0x20;
inline constexpr std::uint32_t kVersionChanged = 0x40;
}  // namespace state

// The pending State bit that a notification choice of Flags answers for, or
// 0: changing the choice clears it (0x02 -> 0x01, 0x04 -> 0x02, 0x08 -> 0x04,
// 0x10 -> 0x08).
std::uint32_t PendingBitOf(std::uint32_t flag_bit);

// What a program is known by in this process and in "softList.xml"'s "rti".
struct ProgramRunInfo {
  // Not stored: the uninstall entry whose Id equals LocalId, linked after
  // every load and merge (a copy, so no later scan can leave it dangling).
  std::optional<inventory::UninstallEntry> Entry;
  // Not stored: 48x48 and 16x16 icons, loaded on demand.
  std::shared_ptr<platform::Icon> LargeIcon;
  std::shared_ptr<platform::Icon> SmallIcon;
  std::string IconFile;
  bool IconFileIsUninstaller = false;
  inventory::CommandLine cmdline;
  std::uint64_t ExeFileSize = 0;  // 0 = unknown
  platform::FileTime ExeLastWriteTime = 0;
  std::string SoftName_old;
  // Not stored: set by a merge of this process; the version information of
  // the record's shortcut, for the report's file description.
  bool HasLiveRecord = false;
  std::shared_ptr<const inventory::FileVersionInfo> LiveFileInfo;
};

struct SoftwareInfo {
  std::string GlobalId;
  std::string LocalId;
  std::string Name;
  std::string Publisher;
  std::string PublisherUrl;
  inventory::ProgramVersion VerInstalled;  // empty: no longer installed
  bool VerInstalledIsStableRelease = true;
  inventory::ProgramVersion VerLatestStable;
  inventory::ProgramVersion VerLatestBeta;
  inventory::ProgramVersion VerOnServer;
  inventory::ProgramVersion VerInstalledOfSoftwareExplorer;
  std::string ProgUrl;
  std::int32_t nComments = 0;
  std::int32_t nNewComments = 0;  // not stored
  std::string CommentsUrl;
  std::int32_t nUsers = 0;
  std::string UsersUrl;
  std::int32_t nQuestionsPosted = 0;
  std::int32_t nNewQuestions = 0;  // not stored
  std::string QuestionsUrl;
  std::int32_t RatingsCount = 0;
  std::int32_t RatingsSum = 0;
  std::int32_t UserRating = 0;  // 0 (none) to 5
  std::int32_t UserRatingOnServer = 0;
  platform::FileTime TimeEntryAdded = 0;  // UTC
  std::uint32_t Flags = flag::kDefault;
  std::uint32_t State = 0;
  ProgramRunInfo rti;

  bool IsInstalled() const { return VerInstalled.IsPresent(); }
  // Sets or clears a Flags bit; a notification choice clears its pending bit.
  void SetFlag(std::uint32_t bit, bool on);
  void ToggleFlag(std::uint32_t bit);
  void ReleaseIcons() {
    rti.LargeIcon.reset();
    rti.SmallIcon.reset();
  }
};

// Programs are shared: the lists and every user hold references, so a
// program taken by the user interface stays valid while a merge moves it.
using SoftwarePtr = std::shared_ptr<SoftwareInfo>;

}  // namespace kv::service
