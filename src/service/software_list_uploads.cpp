// What the client sends the service besides its report: icons the service
// lacks, queued comments, ratings and the file types the programs open.
#include <algorithm>
#include <climits>
#include <optional>
#include <string>
#include <vector>

#include "app/settings.h"
#include "inventory/association_scanner.h"
#include "service/icon_cache.h"
#include "service/software_list_store.h"
#include "service/zip_archive.h"
#include "store/xml_writer.h"

namespace kv::service {
namespace {

using Lock = std::lock_guard<std::recursive_mutex>;

// An icon archive stops growing once its icons pass this many bytes, or
// holds this many icons.
constexpr std::uint64_t kIconArchiveBudget = 299'999;
constexpr std::size_t kMaxIconsPerArchive = 200;
// A service takes no single icon larger than this; sending one would get
// the whole archive refused at every check.
constexpr std::size_t kMaxIconBytes = 256u << 10;

bool RatingPending(const SoftwareInfo& p) {
  return p.UserRating != 0 && p.UserRating != p.UserRatingOnServer;
}

}  // namespace

std::string SoftwareListStore::CachedIconPath(const SoftwareInfo& program) {
  return service::CachedIconPath(machine_, data_folder_, program);
}

// Icons

bool SoftwareListStore::UploadIcons(const UploadSession& session, RequestOutcome& outcome) {
  outcome.Begin();
  // What the walk needs, copied under the lock: the extraction runs without
  // it, so that the user interface does not wait for the disk.
  struct Candidate {
    SoftwarePtr program;
    std::optional<SoftwareInfo> wanting;  // a copy, when it wants an icon
  };
  std::vector<Candidate> candidates;
  {
    Lock lock(mutex_);
    for (const SoftwarePtr& p : installed_) {
      Candidate c{p, std::nullopt};
      if ((p->State & state::kIconWanted) && !p->GlobalId.empty()) c.wanting = *p;
      candidates.push_back(std::move(c));
    }
  }
  std::vector<ZipEntry> icons;
  std::vector<std::string> packed;   // cache files, deleted once the walk is over
  std::vector<SoftwarePtr> walked;
  std::uint64_t total = 0;
  for (const Candidate& c : candidates) {
    if (total > kIconArchiveBudget || icons.size() >= kMaxIconsPerArchive) break;
    walked.push_back(c.program);
    if (!c.wanting) continue;
    const std::string path = CachedIconPath(*c.wanting);
    if (path.empty()) continue;
    auto bytes = machine_.files.ReadAll(path);
    // Gone meanwhile (written again next time), or too large to be taken:
    // counted as done, like a program without an icon.
    if (!bytes || bytes->size() > kMaxIconBytes) continue;
    total += bytes->size();
    icons.push_back({c.wanting->GlobalId + ".ico", std::move(bytes).value()});
    packed.push_back(path);
  }
  // A packed file is extracted again when it is needed.
  const auto drop_packed = [&] {
    for (const std::string& path : packed) machine_.files.Delete(path).IgnoreError();
  };
  const auto clear_walked = [&] {
    Lock lock(mutex_);
    for (const SoftwarePtr& p : walked) p->State &= ~state::kIconWanted;
  };
  if (icons.empty()) {
    // No icon here for what the service wants: asking again would not help.
    clear_walked();
    outcome.SetSucceeded();
    return true;
  }
  auto archive = WriteZipArchive(icons, 1);  // icons barely deflate
  if (!archive) {
    drop_packed();
    return false;
  }
  FormPoster form(session.connection.transport());
  AddIdentityFields(form, session.identity, session.client_build);
  form.AddFile(ShapeOf(RequestMode::UploadIcons).file_field,
               ShapeOf(RequestMode::UploadIcons).file_name, std::move(archive).value());
  form.AddField("Submit", "Submit");
  bool accepted = session.connection.Exchange(RequestMode::UploadIcons, form, outcome).has_value();
  if (!accepted && outcome.kind() == OutcomeKind::ServiceFailure &&
      outcome.code() == AnswerCode::InvalidAnswer) {
    // Services need not answer this one; only a refusal they state counts.
    outcome.SetSucceeded();
    accepted = true;
  }
  drop_packed();
  if (!accepted) return false;
  clear_walked();
  return true;
}

std::size_t SoftwareListStore::CountWantingIcons() const {
  Lock lock(mutex_);
  std::size_t n = 0;
  for (const SoftwarePtr& p : installed_) n += (p->State & state::kIconWanted) ? 1 : 0;
  return n;
}

bool SoftwareListStore::UploadAllIcons(const UploadSession& session, RequestOutcome& outcome) {
  std::size_t wanting = CountWantingIcons();
  outcome.Begin();
  if (wanting == 0) {
    outcome.SetSucceeded();
    return true;
  }
  progress_.begin(static_cast<unsigned>(wanting));
  bool ok = true;
  while (wanting > 0) {
    ok = UploadIcons(session, outcome);
    Save().IgnoreError();  // the marks cleared so far survive a later failure
    if (!ok) break;
    const std::size_t left = CountWantingIcons();
    // Every pass clears at least the first mark; should one come back
    // meanwhile, the next check deals with it.
    if (left >= wanting) break;
    progress_.advance(static_cast<unsigned>(wanting - left));
    wanting = left;
  }
  progress_.end();
  return ok;
}

// Comments

std::optional<CommentDraft> SoftwareListStore::CommentDraftFor(std::size_t index) const {
  Lock lock(mutex_);
  // The user interface may hold an index a refresh has just moved past.
  if (index >= installed_.size()) return std::nullopt;
  const SoftwarePtr& p = installed_[index];
  if (p->GlobalId.empty()) return std::nullopt;
  CommentDraft draft{p->Name, {}, 0};
  if (const int q = comments_.Find(p->GlobalId); q >= 0) {
    draft.text = comments_.at(static_cast<std::size_t>(q)).Comment;
    draft.rating = p->UserRating;
  }
  return draft;
}

bool SoftwareListStore::WriteComment(std::size_t index, const CommentDialogResult& result) {
  Lock lock(mutex_);
  if (index >= installed_.size()) return false;
  const SoftwarePtr p = installed_[index];
  if (p->GlobalId.empty()) return false;
  if (result.opened_automatically && result.dont_ask_again) {
    app::Settings(machine_.registry).SetDontAskWriteCommentsForNewSoft(1);
  }
  if (!result.accepted && !result.opened_automatically) return false;
  // Asked about a new program: answered either way.
  p->Flags &= ~flag::kAddedLater;
  bool queued = false;
  if (result.accepted) {
    const bool blank = result.text.find_first_not_of(" \t\r\n") == std::string::npos;
    const int q = comments_.Find(p->GlobalId);
    if (!blank) {
      comments_.Put(p->GlobalId, result.text);
      queued = true;
    } else if (q >= 0) {
      // Emptied: withdrawn (the service would refuse it and end the check).
      comments_.RemoveAt(static_cast<std::size_t>(q));
    }
    comments_.SaveIfChanged();  // a failed save is tried again by the next Save()
    if (result.rating > 0 && result.rating <= 5) p->UserRating = result.rating;
  }
  Save().IgnoreError();
  return queued;
}

int SoftwareListStore::FindQueuedComment(std::string_view global_id) const {
  Lock lock(mutex_);
  return comments_.Find(global_id);
}

std::vector<QueuedComment> SoftwareListStore::QueuedComments() const {
  Lock lock(mutex_);
  return comments_.items();
}

void SoftwareListStore::SaveComments() {
  Lock lock(mutex_);
  comments_.Save().IgnoreError();
}

void SoftwareListStore::LoadComments() {
  Lock lock(mutex_);
  comments_.Load();
}

void SoftwareListStore::RecordRatingSent(SoftwareInfo& p, std::int32_t sent) {
  // The service's totals are saturated numbers; they stay within range here.
  std::int64_t sum = p.RatingsSum, count = p.RatingsCount;
  if (p.UserRatingOnServer != 0) {
    sum -= p.UserRatingOnServer;
    count -= 1;
  }
  p.UserRatingOnServer = sent;
  sum += sent;
  count += 1;
  const auto clamp = [](std::int64_t v) {
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, 0, INT32_MAX));
  };
  p.RatingsSum = clamp(sum);
  p.RatingsCount = clamp(count);
}

// The requests below run without the list's lock, so that the user interface
// never waits for the network; what they change is applied under it after.

bool SoftwareListStore::SendComments(const UploadSession& session, RequestOutcome& outcome) {
  for (;;) {
    QueuedComment c;
    std::optional<std::int32_t> rating;
    {
      Lock lock(mutex_);
      if (comments_.empty()) return true;
      c = comments_.at(0);
      if (const int i = FindByGlobalId(c.Id); i >= 0) {
        const SoftwareInfo& p = *installed_[static_cast<std::size_t>(i)];
        if (RatingPending(p)) rating = p.UserRating;
      }
    }
    outcome.Begin();
    FormPoster form(session.connection.transport());
    AddIdentityFields(form, session.identity, session.client_build);
    form.AddField("Id", c.Id);
    form.AddField("Comment", c.Comment);
    if (rating) form.AddField("Rating", std::to_string(*rating));
    const bool accepted = session.connection.Exchange(RequestMode::AddComment, form, outcome).has_value();
    // Refused for good (empty, too long, no such program): sending it again
    // would only be refused again.
    const bool refused = !accepted && outcome.kind() == OutcomeKind::ServiceFailure &&
                         outcome.code() == AnswerCode::ExtendedError;
    if (!accepted && !refused) return false;

    Lock lock(mutex_);
    // Rewritten meanwhile: the new text stays queued and goes next.
    if (const int q = comments_.Find(c.Id);
        q >= 0 && comments_.at(static_cast<std::size_t>(q)).Comment == c.Comment) {
      comments_.RemoveAt(static_cast<std::size_t>(q));
      comments_.Save().IgnoreError();
    }
    if (accepted && rating) {
      if (const int i = FindByGlobalId(c.Id); i >= 0) {
        RecordRatingSent(*installed_[static_cast<std::size_t>(i)], *rating);
        Save().IgnoreError();
      }
    }
    if (refused) return false;
  }
}

// Ratings

bool SoftwareListStore::SendRatings(const UploadSession& session, RequestOutcome& outcome,
                                    bool* re_rated, bool* nothing_sent) {
  struct Pending {
    std::string id;
    std::int32_t rating;
  };
  std::vector<Pending> pending;
  {
    Lock lock(mutex_);
    for (const SoftwarePtr& p : installed_) {
      if (RatingPending(*p) && !p->GlobalId.empty()) pending.push_back({p->GlobalId, p->UserRating});
    }
  }
  bool again = false, none = true;
  const auto finish = [&](bool result) {
    if (re_rated) *re_rated = again;
    if (nothing_sent) *nothing_sent = none;
    return result;
  };
  outcome.Begin();
  for (const Pending& r : pending) {
    outcome.Begin();
    FormPoster form(session.connection.transport());
    AddIdentityFields(form, session.identity, session.client_build);
    form.AddField("Id", r.id);
    form.AddField("Rating", std::to_string(r.rating));
    // The first failure ends the round; those sent before it stay recorded.
    if (!session.connection.Exchange(RequestMode::RateProgram, form, outcome)) return finish(false);
    Lock lock(mutex_);
    if (const int i = FindByGlobalId(r.id); i >= 0) {
      SoftwareInfo& p = *installed_[static_cast<std::size_t>(i)];
      if (p.UserRatingOnServer != 0) again = true;
      RecordRatingSent(p, r.rating);
      Save().IgnoreError();
    }
    none = false;
  }
  if (none) outcome.SetSucceeded();
  return finish(true);
}

// Associations

std::string SoftwareListStore::BuildAssociationsDocument(const ReportEnvironment& env,
                                                         std::size_t* entry_count) {
  // Copied under the lock; the scan runs without it.
  struct Named {
    std::string id, name;
  };
  std::vector<Named> programs;
  std::vector<std::string> executables;
  {
    Lock lock(mutex_);
    for (const SoftwarePtr& p : installed_) {
      programs.push_back({p->GlobalId, p->Name});
      executables.push_back(p->rti.cmdline.Path);
    }
  }
  inventory::AssociationScanner scanner(machine_, std::move(executables));
  scanner.Scan();
  if (entry_count) *entry_count = scanner.Count();

  store::XmlWriter w;
  w.Open("", "KV");
  WriteOsInfo(w, env);
  w.Open(" ", "Extensions");
  for (const inventory::ExtensionEntry& e : scanner.entries()) {
    w.Open("  ", "Extension", {{"Value", e.Extension}});
    for (const inventory::AssociationHandler& h : e.Handlers) {
      const Named& p = programs.at(h.Program);
      if (h.IsDefault) {
        w.Text("   ", "Program", h.Description,
               {{"Id", p.id}, {"Name", p.name}, {"Verb", h.Verb}, {"Default", "true"}});
      } else {
        w.Text("   ", "Program", h.Description, {{"Id", p.id}, {"Name", p.name}, {"Verb", h.Verb}});
      }
    }
    w.Close("  ", "Extension");
  }
  w.Close(" ", "Extensions");
  w.Close("", "KV");
  return w.Take();
}

bool SoftwareListStore::SendAssociations(const UploadSession& session,
                                         const ReportEnvironment& env, RequestOutcome& outcome) {
  outcome.Begin();
  std::size_t count = 0;
  const std::string document = BuildAssociationsDocument(env, &count);
  if (count == 0 || static_cast<std::int64_t>(count) == registered_associations()) {
    outcome.SetSucceeded();
    return true;
  }
  if (!session.connection.SendDocument(RequestMode::AddExtensions, session.identity,
                                       session.client_build, document, outcome)) {
    return false;
  }
  set_registered_associations(static_cast<std::int32_t>(count));
  Save().IgnoreError();
  return true;
}

}  // namespace kv::service
