// kvdiag softlist and refresh: the stored software list, and one merge of a
// fresh inventory into it with what changed. Natively they work on a
// replayed machine whose data folder is a real folder (--data DIR), so a
// second run sees what the first one saved; under Wine and on Windows on the
// client's real data folder. "refresh --floor" only lists what an unchanged
// refresh must look at, to time against it.
#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "app/data_folder.h"
#include "service/software_list_store.h"
#include "text/format.h"
#include "tools/kvdiag/commands.h"
#include "tools/kvdiag/diag_machine.h"
#include "tools/kvdiag/json_out.h"
#include "tools/kvdiag/stored_list.h"
#include "tools/kvdiag/table_out.h"

namespace kv::diag {
namespace {

using service::SoftwareInfo;
using service::SoftwarePtr;

constexpr const char* kSoftlistUsage = "softlist [--json] [--data DIR] [--reg FILE...]";
constexpr const char* kRefreshUsage =
    "refresh [--json] [--floor] [--data DIR] [--reg FILE...] [--machine DESC.json]";

void Print(const std::string& s) { std::fwrite(s.data(), 1, s.size(), stdout); }

std::string BitNames(std::uint32_t bits, std::initializer_list<std::pair<std::uint32_t, const char*>> names) {
  std::string out;
  for (const auto& [bit, name] : names) {
    if (!(bits & bit)) continue;
    if (!out.empty()) out += ",";
    out += name;
    bits &= ~bit;
  }
  if (bits) out += (out.empty() ? "" : ",") + text::Format("0x%X", bits);
  return out;
}

std::string FlagNames(std::uint32_t flags) {
  using namespace service::flag;
  return BitNames(flags, {{kNotifyComments, "comments"}, {kNotifyQuestions, "questions"},
                          {kNotifyFourth, "fourth"}, {kNotifyVersions, "versions"},
                          {kNotifyAnswers, "answers"}, {kAddedLater, "added-later"},
                          {kVersionUnknown, "version-unknown"}, {kIgnored, "ignored"}});
}

std::string StateNames(std::uint32_t state) {
  using namespace service::state;
  return BitNames(state, {{kNewComments, "new-comments"}, {kNewQuestions, "new-questions"},
                          {kFourthPending, "fourth-pending"}, {kNewVersion, "new-version"},
                          {kIconWanted, "icon-wanted"}, {kHistoryPending, "history-pending"},
                          {kVersionChanged, "version-changed"}});
}

std::string ProgramJson(const SoftwareInfo& p) {
  using inventory::FormatVersion;
  std::string o = "{\"LocalId\": " + JsonQuote(p.LocalId);
  o += ", \"GlobalId\": " + JsonQuote(p.GlobalId);
  o += ", \"Name\": " + JsonQuote(p.Name);
  o += ", \"Publisher\": " + JsonQuote(p.Publisher);
  o += ", \"VerInstalled\": " + JsonQuote(FormatVersion(p.VerInstalled));
  o += std::string(", \"Stable\": ") + (p.VerInstalledIsStableRelease ? "true" : "false");
  o += ", \"VerLatestStable\": " + JsonQuote(FormatVersion(p.VerLatestStable));
  o += ", \"VerLatestBeta\": " + JsonQuote(FormatVersion(p.VerLatestBeta));
  o += ", \"Flags\": " + std::to_string(p.Flags);
  o += ", \"State\": " + std::to_string(p.State);
  o += ", \"cmdline\": " + JsonQuote(p.rti.cmdline.Format()) + "}";
  return o;
}

std::string ListJson(const std::vector<SoftwarePtr>& list) {
  std::string o = "[";
  for (std::size_t i = 0; i < list.size(); ++i)
    o += (i ? ",\n    " : "\n    ") + ProgramJson(*list[i]);
  return o + (list.empty() ? "]" : "\n  ]");
}

void PrintTable(const char* title, const std::vector<SoftwarePtr>& list) {
  using inventory::FormatVersion;
  TableRows rows = {{"Name", "Installed", "Latest stable", "Latest beta", "Flags", "State"}};
  for (const SoftwarePtr& p : list)
    rows.push_back({p->Name, FormatVersion(p->VerInstalled), FormatVersion(p->VerLatestStable),
                    FormatVersion(p->VerLatestBeta), FlagNames(p->Flags), StateNames(p->State)});
  Print(std::string(title) + " (" + std::to_string(list.size()) + ")\n");
  PrintColumns(rows, "  ");
}

std::vector<SoftwarePtr> Installed(const service::SoftwareListStore& store) {
  std::vector<SoftwarePtr> out;
  for (std::size_t i = 0; i < store.Count(); ++i) out.push_back(store.At(i));
  return out;
}

std::string NamesJson(const std::vector<std::string>& names) {
  std::string o = "[";
  for (std::size_t i = 0; i < names.size(); ++i) o += (i ? ", " : "") + JsonQuote(names[i]);
  return o + "]";
}

// What an unchanged refresh cannot go below: the uninstall subkeys with
// their times and the shortcut folders with their files' times, listed and
// nothing else.
struct Floor {
  std::size_t keys = 0, files = 0;
  double keys_ms = 0, files_ms = 0;
};

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

Floor ListFloor(platform::Machine& machine) {
  using platform::RegView;
  using platform::RootKey;
  Floor f;
  std::size_t& keys = f.keys;
  std::size_t& files = f.files;
  auto start = std::chrono::steady_clock::now();
  for (auto [root, view] : {std::pair{RootKey::LocalMachine, RegView::View64},
                            std::pair{RootKey::LocalMachine, RegView::View32},
                            std::pair{RootKey::CurrentUser, RegView::Native}})
    if (auto list = machine.registry.Open(root, inventory::kUninstallKeyPath, view))
      keys += list->SubKeys().size();
  f.keys_ms = MillisecondsSince(start);
  start = std::chrono::steady_clock::now();
  const auto walk = [&](auto& self, const std::string& folder, bool deep) -> void {
    for (const platform::FolderEntry& e : machine.files.ListFolder(folder)) {
      ++files;
      if (deep && e.info.directory) self(self, folder + "\\" + e.name, true);
    }
  };
  using platform::SpecialFolder;
  for (auto [folder, deep] : {std::pair{SpecialFolder::StartMenu, false},
                              std::pair{SpecialFolder::CommonStartMenu, false},
                              std::pair{SpecialFolder::Programs, true},
                              std::pair{SpecialFolder::CommonPrograms, true},
                              std::pair{SpecialFolder::Desktop, false},
                              std::pair{SpecialFolder::CommonDesktop, false}})
    if (auto path = machine.shell.GetFolder(folder)) walk(walk, *path, deep);
  f.files_ms = MillisecondsSince(start);
  return f;
}

}  // namespace

int WithStoredList(
    const Args& in, const char* usage,
    const std::function<int(platform::Machine&, const service::SoftwareListStore&, bool json)>&
        run) {
  Args args = in;
  DiagMachine dm(args);
  if (!dm.ok() || !dm.TakeDataOption(args)) return 1;
  bool json = false;
  for (const std::string& a : args) {
    if (a == "--json") json = true;
    else return UsageError(usage);
  }
  app::DataFolder folder(dm.machine());
  service::SoftwareListStore store(dm.machine(), folder);
  store.Load();
  return run(dm.machine(), store, json);
}

int RunSoftlist(const Args& args) {
  return WithStoredList(args, kSoftlistUsage,
                        [](platform::Machine&, const service::SoftwareListStore& store, bool json) {
                          if (json) {
                            Print("{\n  \"installed\": " + ListJson(Installed(store)) +
                                  ",\n  \"removed\": " + ListJson(store.Removed()) + "\n}\n");
                          } else {
                            PrintTable("Installed", Installed(store));
                            PrintTable("Removed", store.Removed());
                          }
                          return 0;
                        });
}

int RunRefresh(const Args& in) {
  Args args = in;
  DiagMachine dm(args);
  if (!dm.ok() || !dm.TakeDataOption(args) || !dm.ApplyMachineOption(args)) return 1;
  bool json = false, floor = false;
  for (const std::string& a : args) {
    if (a == "--json") json = true;
    else if (a == "--floor") floor = true;
    else return UsageError(kRefreshUsage);
  }
  if (floor) {
    const Floor f = ListFloor(dm.machine());
    Print(text::Format(json ? "{\"subkeys\": %llu, \"subkeys_ms\": %.1f, \"files\": %llu, "
                              "\"files_ms\": %.1f, \"milliseconds\": %.1f}\n"
                            : "listed %llu uninstall subkeys in %.1f ms and %llu shortcut files "
                              "in %.1f ms: %.1f ms\n",
                       static_cast<unsigned long long>(f.keys), f.keys_ms,
                       static_cast<unsigned long long>(f.files), f.files_ms,
                       f.keys_ms + f.files_ms));
    return 0;
  }
  app::DataFolder folder(dm.machine());
  service::SoftwareListStore store(dm.machine(), folder);
  // Loading is part of what a refresh at start-up costs, so it is timed too.
  const auto start = std::chrono::steady_clock::now();
  const bool ok = store.Refresh();
  const double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  const service::RefreshChanges& c = store.last_changes();
  const bool saved = dm.SaveDataFolder();
  if (json) {
    Print(text::Format("{\"ok\": %s, \"merged\": %s, \"milliseconds\": %.1f, ", ok ? "true" : "false",
                       c.merged ? "true" : "false", ms) +
          "\"added\": " + NamesJson(c.added) + ", \"updated\": " + NamesJson(c.updated) +
          ", \"reinstalled\": " + NamesJson(c.reinstalled) + ", \"removed\": " +
          NamesJson(c.removed) + ", \"installed\": " + std::to_string(store.Count()) + "}\n");
  } else {
    Print(text::Format("%s in %.1f ms; %llu programs installed, %llu removed\n",
                       !ok ? "refresh failed" : c.merged ? "merged" : "nothing changed", ms,
                       static_cast<unsigned long long>(store.Count()),
                       static_cast<unsigned long long>(store.Removed().size())));
    auto list = [](const char* what, const std::vector<std::string>& names) {
      for (const std::string& n : names) Print(std::string("  ") + what + " " + n + "\n");
    };
    list("added", c.added);
    list("updated", c.updated);
    list("reinstalled", c.reinstalled);
    list("removed", c.removed);
  }
  return ok && saved ? 0 : 1;
}

}  // namespace kv::diag
