#pragma once
// The software list: every program the inventory has ever found on this
// machine with what the web service said about it, kept in "softList.xml"
// and merged with a fresh inventory by Refresh(). One lock guards both
// lists; it is recursive so that Save() may run inside a merge or while an
// answer is applied.
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/data_folder.h"
#include "app/progress_tracker.h"
#include "inventory/inventory.h"
#include "inventory/uninstall_key_cache.h"
#include "inventory/uninstall_scanner.h"
#include "platform/machine.h"
#include "platform/status.h"
#include "service/comment_queue.h"
#include "service/report_environment.h"
#include "service/requests.h"
#include "service/software_info.h"

namespace kv::app {
class ActivityLog;
}

namespace kv::service {

class NewsSink;
class SiteStats;
class UserAccount;

// What the last merge changed, by program name (for kvdiag and the log).
struct RefreshChanges {
  bool merged = false;  // false: nothing needed doing
  std::vector<std::string> added;
  std::vector<std::string> updated;      // installed version changed
  std::vector<std::string> reinstalled;  // back from the removed list
  std::vector<std::string> removed;
};

// Who sends, and to which service: what every upload needs.
struct UploadSession {
  ServiceConnection& connection;
  ClientIdentity identity;
  std::string client_build;
};

// What the comment dialog starts with for a program.
struct CommentDraft {
  std::string name;
  std::string text;     // the queued comment, or empty
  std::int32_t rating;  // the user's rating
};

// What the user did in the comment dialog.
struct CommentDialogResult {
  bool accepted = false;  // OK, not cancel
  std::string text;
  std::int32_t rating = 0;          // 0: none given
  bool opened_automatically = false;  // asked for a newly found program
  bool dont_ask_again = false;      // its "do not ask again" box
};

// How an answer's `Programs` are applied.
struct AnswerRules {
  // "host[:port]" of the site: program and publisher pages are
  // "http://" + short name + "." + this + "/".
  std::string site_host = "localhost:8080";
  bool ignore_beta_versions = false;

  static AnswerRules From(const app::ServiceConfig& config, bool ignore_beta_versions);
};

// What a check needs besides the list: who sends where, the report's
// environment, and the owners of the answer's other sections (each may be
// left out, and its section is then ignored).
struct CheckServices {
  UploadSession session;
  ReportEnvironment environment;
  AnswerRules rules;
  UserAccount* account = nullptr;
  SiteStats* site_stats = nullptr;
  NewsSink* news = nullptr;
  app::ActivityLog* usage_log = nullptr;  // sent when given
};

class SoftwareListStore {
 public:
  SoftwareListStore(platform::Machine& machine, app::DataFolder& data_folder,
                    app::ProgressTracker& progress = app::ProgressTracker::instance());
  SoftwareListStore(const SoftwareListStore&) = delete;
  SoftwareListStore& operator=(const SoftwareListStore&) = delete;

  // The process-wide list on the system machine, created on first use; it
  // reports data-file problems to the process-wide activity log.
  static SoftwareListStore& Instance();

  // Reads "softList.xml" (or its ".bak") and the uninstall cache; does
  // nothing when the installed list already holds a program. May set
  // RescanNeeded (a program without run-time information, an executable
  // that changed).
  void Load();
  // Writes the list, then the uninstall cache. Saves are silent for the
  // client; the status is for kvdiag and tests. A document equal to what
  // the file already holds is not written again.
  platform::Status Save();
  // Merges a fresh inventory when the machine changed (or RescanNeeded);
  // true when nothing needed doing or the merge completed. A merge that
  // fails leaves "softList.xml" as it was.
  bool Refresh();
  const RefreshChanges& last_changes() const { return changes_; }

  // True when a report would tell the service something: a removed program,
  // an unmatched identifier, or an installed program the service does not
  // know at its installed version.
  bool HasSomethingToReport() const;
  // The report document: the programs to report (installed, with a version
  // the service does not have), then the identifiers the service should
  // forget (unmatched ones, installed programs gone or at another version,
  // removed programs).
  std::string BuildReport(const ReportEnvironment& environment) const;

  // Indexes into the installed list, or -1; names compared without regard to case.
  int FindByLocalId(std::string_view local_id) const;
  int FindByGlobalId(std::string_view global_id) const;
  // The first installed program whose linked uninstall entry has this DisplayName.
  int FindByDisplayName(std::string_view display_name) const;
  std::size_t Count() const;
  // Throws std::out_of_range for a bad index.
  SoftwarePtr At(std::size_t index) const;
  std::vector<SoftwarePtr> Removed() const;

  // A Flags bit of an installed program; a notification choice clears its
  // pending State bit.
  void SetFlag(std::size_t index, std::uint32_t bit, bool on);
  void ToggleFlag(std::size_t index, std::uint32_t bit);
  // Finds `program` by LocalId; when found sets UserRating and saves.
  void SetUserRating(const SoftwareInfo& program, std::int32_t value);
  // After the user uninstalled a program: empties its installed versions,
  // releases its icons and moves it to the removed list.
  void MarkUninstalled(std::size_t index);
  // Empties VerOnServer of every installed program and saves, so that the
  // next report sends every program again.
  void ClearServerVersions();
  // The first installed program whose icon the service lacks.
  std::optional<std::size_t> FirstProgramNeedingIcon() const;
  // The user confirmed the per-program notification choices.
  void ConfirmNotificationCustomization();

  // The icon cache file of a program (icon_cache.h), written when missing.
  std::string CachedIconPath(const SoftwareInfo& program);

  // One "upload_icons" exchange: the cache files of the programs the service
  // wants an icon for, in list order, until they pass 299,999 bytes. The
  // packed files are deleted; the programs walked lose their wanted mark
  // once the service took the archive.
  bool UploadIcons(const UploadSession& session, RequestOutcome& outcome);
  // UploadIcons until no program wants an icon, saving after each pass; a
  // progress phase of one unit per program that wanted one. False at the
  // first failed pass.
  bool UploadAllIcons(const UploadSession& session, RequestOutcome& outcome);

  // The comment dialog's starting values (the rating only with a queued
  // comment); nullopt for a program the service does not know (it cannot
  // take comments) or an index no longer in the list.
  std::optional<CommentDraft> CommentDraftFor(std::size_t index) const;
  // Applies what the user did in the comment dialog: queues the comment and
  // the rating on OK (an emptied comment withdraws the queued one); either
  // way an automatic question is answered. True when a comment was queued;
  // false for an index no longer in the list. Ticking "do not ask again" in an automatic
  // question is kept in the settings.
  bool WriteComment(std::size_t index, const CommentDialogResult& result);
  // Index of the queued comment for a GlobalId (without regard to case), or -1.
  int FindQueuedComment(std::string_view global_id) const;
  std::vector<QueuedComment> QueuedComments() const;
  void SaveComments();
  void LoadComments();

  // "add_comment" for each queued comment in order, with its program's
  // pending rating. A comment the service refuses for good ("ExtendedError")
  // is dropped; any other failure keeps it and stops. True when the queue
  // is empty at the end. The requests run without the list's lock.
  bool SendComments(const UploadSession& session, RequestOutcome& outcome);
  // "rate_program" for each installed program with a pending rating;
  // `re_rated`: a program the service had a rating from this user for;
  // `nothing_sent`: no rating was pending.
  bool SendRatings(const UploadSession& session, RequestOutcome& outcome,
                   bool* re_rated = nullptr, bool* nothing_sent = nullptr);
  // Scans the associations; when their number changed (and is not 0) sends
  // them ("add_extensions") and remembers the number.
  bool SendAssociations(const UploadSession& session, const ReportEnvironment& environment,
                        RequestOutcome& outcome);
  // The associations document of the installed programs (a fresh scan).
  std::string BuildAssociationsDocument(const ReportEnvironment& environment,
                                        std::size_t* entry_count = nullptr);

  // "add_programs" when there is something to report: the answer's
  // `Programs` are applied, the removed and unmatched lists emptied and the
  // list saved; wanted icons are sent.
  bool SendReport(const UploadSession& session, const ReportEnvironment& environment,
                  const AnswerRules& rules, RequestOutcome& outcome);
  // One whole check: report, icons, comments, usage log, associations,
  // ratings, then "check_updates", whose answer updates the list, the
  // account, the site totals and the news. A progress phase of six units.
  // True when the answer was applied; otherwise `outcome` says why, and what
  // an earlier step changed stays.
  bool CheckUpdates(const CheckServices& services, RequestOutcome& outcome);
  // Applies an answer's `Programs` element; false when a child carries no
  // attributes (the children before it stay applied). Marks new versions
  // (State 0x08 where notified) and sets has_new_versions().
  bool ApplyProgramsAnswer(const store::XmlElement& programs, const AnswerRules& rules);

  std::int32_t registered_associations() const;
  void set_registered_associations(std::int32_t n);
  std::int32_t manager_state() const;
  bool rescan_needed() const;
  void set_rescan_needed(bool on);
  bool has_new_versions() const;
  void set_has_new_versions(bool on);
  // GlobalIds the service sent that match no program; reported as uninstalled.
  std::vector<std::string> unmatched_ids() const;
  void set_unmatched_ids(std::vector<std::string> ids);

  std::recursive_mutex& mutex() const { return mutex_; }
  const inventory::UninstallScanner& scanner() const { return scanner_; }
  const inventory::UninstallKeyCache& key_cache() const { return keys_; }

 private:
  // Sets rescan_needed_ when an installed program's executable is gone or
  // was written since it was seen; true when it did.
  bool CheckExecutables();
  bool MergeNeeded();
  void Merge();
  void CopyRunInfo(SoftwareInfo& program, const inventory::ProgramRecord& record);
  void LoadIcons(SoftwareInfo& program);
  void LinkEntries();
  void SortInstalled();
  std::string Document() const;
  // Rating `sent` went through: the service's sum and count follow.
  static void RecordRatingSent(SoftwareInfo& program, std::int32_t sent);
  std::size_t CountWantingIcons() const;

  platform::Machine& machine_;
  app::DataFolder& data_folder_;
  app::ProgressTracker& progress_;
  mutable std::recursive_mutex mutex_;
  std::vector<SoftwarePtr> installed_;
  std::vector<SoftwarePtr> removed_;
  std::vector<std::string> unmatched_ids_;
  std::int32_t registered_associations_ = 0;
  std::int32_t manager_state_ = 0;
  bool rescan_needed_ = false;
  bool has_new_versions_ = false;
  bool loaded_ = false;
  // What "softList.xml" holds as far as this process knows; a save of the
  // same text is skipped so an unchanged list never touches the file.
  std::string file_text_;
  // One refresh's scans (change test, store, inventory) share these records.
  inventory::UninstallKeyCache keys_;
  inventory::UninstallScanner scanner_;
  std::unique_ptr<inventory::Inventory> inventory_;
  RefreshChanges changes_;
  CommentQueue comments_;
};

}  // namespace kv::service
