#include "app/startup.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

#include "app/service_config.h"
#include "app/settings.h"
#include "app/shell_actions.h"
#include "platform/fake/fake_machine.h"

namespace kv::app {
namespace {

using platform::FakeMachine;
using platform::FileOp;
using platform::RegValue;
using platform::RootKey;

constexpr char kOldLogin[] = "C:\\Users\\user\\AppData\\Roaming\\Lumaro\\login.xml";
constexpr char kNewLogin[] = "C:\\Users\\user\\AppData\\Roaming\\Korvan\\login.xml";

TEST(OldProductTest, LoginFileMovesIntoTheNewDataFolder) {
  FakeMachine m;
  m.files.AddFile(kOldLogin, "<old/>");
  DataFolder folders(m);
  EXPECT_EQ(MigrateOldLoginFile(folders), MigrationResult::Moved);
  EXPECT_EQ(m.files.ReadAll(kNewLogin).value_or(""), "<old/>");
  EXPECT_FALSE(m.files.Exists(kOldLogin));
  // Nothing else of the old folder is taken along here.
}

TEST(OldProductTest, ExistingNewLoginFileIsNeverReplaced) {
  FakeMachine m;
  m.files.AddFile(kOldLogin, "<old/>");
  m.files.AddFile(kNewLogin, "<new/>");
  DataFolder folders(m);
  EXPECT_EQ(MigrateOldLoginFile(folders), MigrationResult::NewFileKept);
  EXPECT_EQ(m.files.ReadAll(kNewLogin).value_or(""), "<new/>");
  EXPECT_EQ(m.files.ReadAll(kOldLogin).value_or(""), "<old/>");
}

TEST(OldProductTest, NoOldFileOrFailedMoveIsSilent) {
  FakeMachine m;
  DataFolder folders(m);
  EXPECT_EQ(MigrateOldLoginFile(folders), MigrationResult::NoOldFile);
  EXPECT_FALSE(m.files.Exists("C:\\Users\\user\\AppData\\Roaming\\Korvan"));

  m.files.AddFile(kOldLogin, "<old/>");
  m.files.SetFaultHook([](FileOp op, std::string_view) { return op == FileOp::Move; });
  EXPECT_EQ(MigrateOldLoginFile(folders), MigrationResult::Failed);
  EXPECT_TRUE(m.files.Exists(kOldLogin));
}

TEST(OldProductTest, OldRunValueGoesAndOursStays) {
  FakeMachine m;
  m.registry.Write(RootKey::CurrentUser, kRunKeyPath, "Lumaro", RegValue::String("lmr.exe"));
  m.registry.Write(RootKey::CurrentUser, kRunKeyPath, "Korvan",
                   RegValue::String("korvapp.exe -autorun"));
  RemoveOldProductAutorun(m.registry);
  EXPECT_FALSE(m.registry.ReadString(RootKey::CurrentUser, kRunKeyPath, "Lumaro"));
  EXPECT_TRUE(m.registry.ReadString(RootKey::CurrentUser, kRunKeyPath, "Korvan"));
  // A second pass finds nothing to delete and stays quiet.
  RemoveOldProductAutorun(m.registry);
  EXPECT_TRUE(AutorunEntry(m).Exists());
}

TEST(OldProductTest, RunKeyIsNeverCreatedAndLockedRegistryIsSilent) {
  FakeMachine m;
  RemoveOldProductAutorun(m.registry);
  EXPECT_EQ(m.registry.Open(RootKey::CurrentUser, kRunKeyPath), nullptr);

  m.registry.Write(RootKey::CurrentUser, kRunKeyPath, "Lumaro", RegValue::String("lmr.exe"));
  m.registry.SetReadOnly(true);
  RemoveOldProductAutorun(m.registry);
  EXPECT_TRUE(m.registry.ReadString(RootKey::CurrentUser, kRunKeyPath, "Lumaro"));
}

TEST(AppIdTest, RegisterThenUnregisterLeavesAppIdItself) {
  FakeMachine m;
  m.registry.Write(RootKey::ClassesRoot, "AppID\\{other}", "", RegValue::String("x"));
  ASSERT_TRUE(RegisterAppId(m.registry));
  EXPECT_EQ(m.registry.ReadString(RootKey::ClassesRoot,
                                  "AppID\\{5D7F7343-53AA-4FC1-9C0E-C3D376480D51}", ""),
            "LMR");
  EXPECT_EQ(m.registry.ReadString(RootKey::ClassesRoot, "AppID\\LMR.EXE", "AppID"),
            "{5D7F7343-53AA-4FC1-9C0E-C3D376480D51}");

  EXPECT_TRUE(UnregisterAppId(m.registry));
  EXPECT_EQ(m.registry.Open(RootKey::ClassesRoot, "AppID\\LMR.EXE"), nullptr);
  EXPECT_EQ(m.registry.Open(RootKey::ClassesRoot, std::string("AppID\\") + kAppIdGuid), nullptr);
  EXPECT_NE(m.registry.Open(RootKey::ClassesRoot, "AppID\\{other}"), nullptr);
}

TEST(BuildNumberTest, ThirdComponentOrQuestionMarks) {
  EXPECT_EQ(FormatBuildNumber({1, 0, 305, 0}), "305");
  EXPECT_EQ(FormatBuildNumber({2, 1, 0}), "0");
  EXPECT_EQ(FormatBuildNumber({1, 0}), "???");
  EXPECT_EQ(FormatBuildNumber({}), "???");
}

TEST(ServiceConfigTest, DefaultsPointAtTheLocalService) {
  FakeMachine m;
  const ServiceConfig c = ServiceConfig::Load(m.registry);
  EXPECT_EQ(c.site.Origin(), "http://localhost:8080");
  EXPECT_EQ(c.upload.Origin(), "http://localhost:8080");
  EXPECT_EQ(UninstalledPageUrl(c, "", "17"),
            "http://localhost:8080/uninstalled.php?userid=&build=17");
  EXPECT_EQ(BugReportUrl(c), "http://localhost:8080/bug_report.php?type=client");
}

TEST(ServiceConfigTest, RegistryOverridesEachPartAndIgnoresGarbage) {
  FakeMachine m;
  m.registry.Write(RootKey::CurrentUser, kAppKeyPath, "SiteUrl",
                   RegValue::String("https://www.korvan.example/"));
  m.registry.Write(RootKey::CurrentUser, kAppKeyPath, "UploadUrl",
                   RegValue::String("ftp://up.example"));
  m.registry.Write(RootKey::CurrentUser, kAppKeyPath, "SupportEmail",
                   RegValue::String("help@korvan.example"));
  const ServiceConfig c = ServiceConfig::Load(m.registry);
  EXPECT_EQ(c.site.scheme, "https");
  EXPECT_EQ(c.site.host, "www.korvan.example");
  EXPECT_EQ(c.site.port, 443);
  EXPECT_EQ(c.site.Origin(), "https://www.korvan.example");
  EXPECT_EQ(c.upload, ServiceEndpoint{});  // an unknown scheme keeps the default
  EXPECT_EQ(c.support_email, "help@korvan.example");
}

TEST(ServiceConfigTest, EndpointParsing) {
  ServiceEndpoint e;
  ASSERT_TRUE(ParseEndpoint("HTTP://localhost:9000", e));
  EXPECT_EQ(e.Origin(), "http://localhost:9000");
  ASSERT_TRUE(ParseEndpoint("http://[::1]:81", e));
  EXPECT_EQ(e.host, "[::1]");
  EXPECT_EQ(e.port, 81);
  ASSERT_TRUE(ParseEndpoint("https://h:80", e));
  EXPECT_EQ(e.Origin(), "https://h:80");
  for (const char* bad : {"", "localhost", "http://", "http://h:", "http://h:0",
                          "http://h:65536", "http://h:8x", "http://h/path", "http://h?q"}) {
    ServiceEndpoint kept;
    kept.host = "kept";
    EXPECT_FALSE(ParseEndpoint(bad, kept)) << bad;
    EXPECT_EQ(kept.host, "kept") << bad;
  }
}

TEST(StartupWaitTest, DialogOnlyForASlowEarlyRefreshOfAUserStart) {
  EXPECT_EQ(DecideStartupWait(false, 0.0, false), StartupWait::ShowDialog);
  EXPECT_EQ(DecideStartupWait(false, 79.99, false), StartupWait::ShowDialog);
  EXPECT_EQ(DecideStartupWait(false, 80.0, false), StartupWait::Silent);
  EXPECT_EQ(DecideStartupWait(true, 0.0, false), StartupWait::Silent);
  EXPECT_EQ(DecideStartupWait(false, 0.0, true), StartupWait::Silent);
}

// A job that runs until the test lets it end.
struct HeldJob {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::function<void()> job(ProgressRange& progress, double at) {
    return [this, &progress, at] {
      progress.set_current(at);
      released.wait();
    };
  }
};

TEST(StartupRefreshTest, QuickJobShowsNoDialog) {
  ProgressRange progress;
  std::atomic<int> ran{0};
  StartupRefresh refresh([&] { ++ran; }, progress);
  bool dialog = false;
  EXPECT_EQ(RunStartupRefresh(refresh, false, [&](StartupRefresh&) { dialog = true; },
                              std::chrono::milliseconds(5000)),
            StartupWait::Silent);
  EXPECT_FALSE(dialog);
  EXPECT_EQ(ran, 1);
  EXPECT_TRUE(refresh.ended());
}

TEST(StartupRefreshTest, SlowJobBelowEightyPercentShowsTheDialogUntilItEnds) {
  ProgressRange progress;
  HeldJob held;
  StartupRefresh refresh(held.job(progress, 42.7), progress);
  std::vector<StartupDialogTick> ticks;
  const StartupWait w = RunStartupRefresh(
      refresh, false,
      [&](StartupRefresh& r) {
        ticks.push_back(TickStartupDialog(r, std::chrono::milliseconds(1)));
        held.release.set_value();
        for (int i = 0; i < 1000 && !(ticks.empty() || ticks.back().close); ++i)
          ticks.push_back(TickStartupDialog(r, std::chrono::milliseconds(50)));
      },
      std::chrono::milliseconds(20));
  EXPECT_EQ(w, StartupWait::ShowDialog);
  ASSERT_GE(ticks.size(), 2u);
  EXPECT_FALSE(ticks.front().close);
  EXPECT_EQ(ticks.front().bar, 42);  // truncated, not rounded
  EXPECT_TRUE(ticks.back().close);
  EXPECT_EQ(ticks.back().bar, 100);
}

TEST(StartupRefreshTest, SlowJobPastEightyPercentOrAutorunWaitsSilently) {
  for (const auto& [at, autorun] : {std::pair{85.0, false}, std::pair{10.0, true}}) {
    ProgressRange progress;
    HeldJob held;
    StartupRefresh refresh(held.job(progress, at), progress);
    // Let the job end a little after the silent wait has begun.
    std::thread releaser([&] {
      std::this_thread::sleep_for(std::chrono::milliseconds(60));
      held.release.set_value();
    });
    bool dialog = false;
    EXPECT_EQ(RunStartupRefresh(refresh, autorun, [&](StartupRefresh&) { dialog = true; },
                                std::chrono::milliseconds(20)),
              StartupWait::Silent);
    releaser.join();
    EXPECT_FALSE(dialog) << at;
    EXPECT_TRUE(refresh.ended());
  }
}

TEST(StartupRefreshTest, HooksWrapTheJobOnTheWorkerAndFailuresEndIt) {
  ProgressRange progress;
  std::vector<std::string> order;
  std::thread::id worker;
  std::mutex mu;
  auto note = [&](const char* s) {
    std::lock_guard lock(mu);
    order.push_back(s);
  };
  StartupRefresh ok(
      [&] {
        worker = std::this_thread::get_id();
        note("job");
        throw std::runtime_error("refresh failed");
      },
      progress, {[&] { note("enter"); return true; }, [&] { note("leave"); }});
  RunStartupRefresh(ok, false, nullptr);
  EXPECT_EQ(order, (std::vector<std::string>{"enter", "job", "leave"}));
  EXPECT_NE(worker, std::this_thread::get_id());
  EXPECT_TRUE(ok.ended());

  // When COM cannot be entered the job is skipped, and start-up still goes on.
  order.clear();
  StartupRefresh no_com([&] { note("job"); }, progress,
                        {[&] { note("enter"); return false; }, [&] { note("leave"); }});
  EXPECT_EQ(RunStartupRefresh(no_com, false, nullptr), StartupWait::Silent);
  EXPECT_EQ(order, (std::vector<std::string>{"enter"}));
}

}  // namespace
}  // namespace kv::app
