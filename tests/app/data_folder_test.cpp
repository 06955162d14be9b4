#include <gtest/gtest.h>

#include "app/data_folder.h"
#include "platform/fake/fake_machine.h"

namespace kv::app {
namespace {

using platform::FileOp;
using platform::SpecialFolder;

class DataFolderTest : public ::testing::Test {
 protected:
  platform::FakeMachine m;
  DataFolder folder{m.machine};
};

TEST_F(DataFolderTest, FoldersEndInBackslashes) {
  EXPECT_EQ(folder.GetAppDataFolder(), "C:\\Users\\user\\AppData\\Roaming\\");
  EXPECT_EQ(folder.GetDataFolder(), "C:\\Users\\user\\AppData\\Roaming\\Korvan\\");
  EXPECT_EQ(folder.GetOldProductFolder(), "C:\\Users\\user\\AppData\\Roaming\\Lumaro\\");
}

TEST_F(DataFolderTest, AppDataFallsBackToTheWindowsFolder) {
  m.shell.SetFolder(SpecialFolder::RoamingAppData, std::nullopt);
  EXPECT_EQ(folder.GetAppDataFolder(), "C:\\Windows\\Application Data\\");
  m.shell.SetFolder(SpecialFolder::Windows, "C:\\");
  EXPECT_EQ(folder.GetAppDataFolder(), "C:\\Application Data\\");
}

TEST_F(DataFolderTest, DataFolderIsComputedOnce) {
  const std::string first = folder.GetDataFolder();
  m.shell.SetFolder(SpecialFolder::RoamingAppData, "D:\\Elsewhere");
  EXPECT_EQ(folder.GetDataFolder(), first);
}

TEST_F(DataFolderTest, DataFilePathCreatesTheFolder) {
  const std::string path = folder.GetDataFilePath("softList.xml");
  EXPECT_EQ(path, "C:\\Users\\user\\AppData\\Roaming\\Korvan\\softList.xml");
  EXPECT_TRUE(m.files.IsDirectory("C:\\Users\\user\\AppData\\Roaming\\Korvan"));
  EXPECT_FALSE(m.files.Exists(path));
}

TEST_F(DataFolderTest, CopiesAWorkingFolderFileOnlyWhenTheDataFolderHasNone) {
  m.files.AddFile("C:\\Program Files\\Korvan\\softList.xml", "old copy");
  m.files.SetCurrentDirectory("C:\\Program Files\\Korvan");
  const std::string path = folder.GetDataFilePath("softList.xml");
  EXPECT_EQ(m.files.ReadAll(path), "old copy");
  EXPECT_EQ(m.files.ReadAll("C:\\Program Files\\Korvan\\softList.xml"), "old copy");

  m.files.WriteAll(path, "newer");
  folder.GetDataFilePath("softList.xml");
  EXPECT_EQ(m.files.ReadAll(path), "newer");
}

TEST(CreateDirectoryChain, CreatesEveryFolderBeforeTheLastSeparator) {
  platform::FakeMachine m;
  EXPECT_TRUE(CreateDirectoryChain(m.files, "C:\\a\\b/c\\file.txt"));
  EXPECT_TRUE(m.files.IsDirectory("C:\\a\\b\\c"));
  EXPECT_FALSE(m.files.Exists("C:\\a\\b\\c\\file.txt"));
  EXPECT_TRUE(CreateDirectoryChain(m.files, "C:\\x\\y\\"));
  EXPECT_TRUE(m.files.IsDirectory("C:\\x\\y"));
  EXPECT_TRUE(CreateDirectoryChain(m.files, "C:\\a\\b\\c\\"));  // existing is success
}

TEST(CreateDirectoryChain, BareNameCreatesNothing) {
  platform::FakeMachine m;
  const auto before = m.files.ListFolder("C:\\", "*").size();
  EXPECT_TRUE(CreateDirectoryChain(m.files, "file.txt"));
  EXPECT_EQ(m.files.ListFolder("C:\\", "*").size(), before);
}

TEST(CreateDirectoryChain, UncPathsSkipServerAndShare) {
  platform::FakeMachine m;
  EXPECT_FALSE(CreateDirectoryChain(m.files, "\\\\server"));
  EXPECT_FALSE(CreateDirectoryChain(m.files, "\\\\server\\share"));
  EXPECT_TRUE(CreateDirectoryChain(m.files, "\\\\server\\share\\dir\\f.txt"));
  EXPECT_TRUE(m.files.IsDirectory("\\\\server\\share\\dir"));
}

TEST(CreateDirectoryChain, StopsAtTheFirstRealFailure) {
  platform::FakeMachine m;
  int attempts = 0;
  m.files.SetFaultHook([&](FileOp op, std::string_view) {
    if (op != FileOp::CreateDir) return false;
    return ++attempts == 2;
  });
  EXPECT_FALSE(CreateDirectoryChain(m.files, "C:\\p\\q\\r\\f"));
  EXPECT_EQ(attempts, 2);
  EXPECT_TRUE(m.files.IsDirectory("C:\\p"));
  EXPECT_FALSE(m.files.Exists("C:\\p\\q\\r"));
}

}  // namespace
}  // namespace kv::app
