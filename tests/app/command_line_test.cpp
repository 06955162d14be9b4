#include "app/command_line.h"

#include <gtest/gtest.h>

namespace kv::app {
namespace {

constexpr char kExe[] = "\"C:\\Program Files\\Korvan\\korvapp.exe\"";

StartRequest Classify(const std::string& tail) {
  return ClassifyCommandLine(tail, std::string(kExe) + " " + tail);
}

TEST(CommandLineTest, AutorunIsTheExactTailOnly) {
  EXPECT_TRUE(Classify("-autorun").autorun);
  EXPECT_STREQ(Classify("-autorun").StartedBy(), "autorun");
  for (const char* tail : {"-AUTORUN", "-Autorun", "-autorun -docheckupdates", " -autorun",
                           "-autorun ", "/autorun", ""}) {
    const StartRequest r = Classify(tail);
    EXPECT_FALSE(r.autorun) << tail;
    EXPECT_STREQ(r.StartedBy(), "user") << tail;
  }
}

TEST(CommandLineTest, UninstallPageIgnoresCaseButNotExtraText) {
  EXPECT_TRUE(Classify("/openafteruninstpage").open_after_uninst);
  EXPECT_TRUE(Classify("/OpenAfterUninstPage").open_after_uninst);
  EXPECT_FALSE(Classify("-openafteruninstpage").open_after_uninst);
  EXPECT_FALSE(Classify("/openafteruninstpage x").open_after_uninst);
  EXPECT_FALSE(Classify("/openafteruninstpage").autorun);
}

TEST(CommandLineTest, CheckUpdatesIsCaseSensitive) {
  EXPECT_TRUE(Classify("-docheckupdates").do_check_updates);
  EXPECT_FALSE(Classify("-DoCheckUpdates").do_check_updates);
  EXPECT_FALSE(Classify("-docheckupdates -autorun").do_check_updates);
}

TEST(CommandLineTest, RegistrationTokensEndTheLine) {
  EXPECT_EQ(Classify("/RegServer").registration, Registration::RegServer);
  EXPECT_EQ(Classify("-regserver").registration, Registration::RegServer);
  EXPECT_EQ(Classify("/UnregServer").registration, Registration::UnregServer);
  EXPECT_EQ(Classify("-UNREGSERVER").registration, Registration::UnregServer);
  // Whatever comes first, only the whole rest of the line counts.
  EXPECT_EQ(Classify("-autorun /RegServer").registration, Registration::RegServer);
  EXPECT_EQ(Classify("/RegServer -autorun").registration, Registration::None);
  EXPECT_EQ(Classify("/RegServer ").registration, Registration::None);
  EXPECT_EQ(Classify("RegServer").registration, Registration::None);
  EXPECT_EQ(Classify("-autorun").registration, Registration::None);
  // Separators inside the program path are scanned too, harmlessly.
  EXPECT_EQ(ScanRegistration("C:/my-tools/korvapp.exe"), Registration::None);
  EXPECT_EQ(ScanRegistration("C:/tools/korvapp.exe /unregserver"), Registration::UnregServer);
}

TEST(CommandLineTest, ComStartsAreRecognisedPerArgument) {
  EXPECT_TRUE(Classify("-Embedding").embedding);
  EXPECT_TRUE(Classify("/automation").embedding);
  EXPECT_TRUE(Classify("-autorun  /EMBEDDING").embedding);
  EXPECT_FALSE(Classify("-Embeddings").embedding);
  EXPECT_FALSE(Classify("Embedding").embedding);
  EXPECT_FALSE(Classify("-").embedding);
}

TEST(CommandLineTest, TailFollowsTheProgramPath) {
  EXPECT_EQ(CommandTail("\"C:\\Program Files\\Korvan\\korvapp.exe\"  -autorun"), "-autorun");
  EXPECT_EQ(CommandTail("korvapp.exe\t-autorun x"), "-autorun x");
  EXPECT_EQ(CommandTail("korvapp.exe"), "");
  EXPECT_EQ(CommandTail("\"C:\\a b\\korvapp.exe\""), "");
  EXPECT_EQ(CommandTail("\"unterminated -autorun"), "");
  EXPECT_EQ(CommandTail("korvapp.exe -autorun "), "-autorun ");
}

}  // namespace
}  // namespace kv::app
