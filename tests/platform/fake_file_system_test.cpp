#include <gtest/gtest.h>

#include "platform/fake/fake_machine.h"

namespace kv::platform {
namespace {

class FakeFileSystemTest : public ::testing::Test {
 protected:
  FakeMachine m;
  FakeFileSystem& fs = m.files;
};

TEST_F(FakeFileSystemTest, PathsAreCaseInsensitiveAndNormalised) {
  fs.AddFile("C:\\Data\\Report.XML", "x");
  EXPECT_EQ(fs.ReadAll("c:/data/report.xml"), "x");
  EXPECT_EQ(fs.ReadAll("C:\\Data\\.\\sub\\..\\REPORT.xml"), "x");
  EXPECT_EQ(fs.LongPath("c:\\data\\report.xml"), "C:\\Data\\Report.XML");
  fs.SetCurrentDirectory("C:\\Data");
  EXPECT_EQ(fs.ReadAll("report.xml"), "x");
}

TEST_F(FakeFileSystemTest, CreatingNeedsTheParentFolder) {
  EXPECT_EQ(fs.OpenWrite("C:\\missing\\f.txt", OpenMode::CreateAlways), nullptr);
  EXPECT_EQ(fs.MakeDirectory("C:\\a\\b"), CreateDirResult::PathNotFound);
  EXPECT_EQ(fs.MakeDirectory("C:\\a"), CreateDirResult::Created);
  EXPECT_EQ(fs.MakeDirectory("C:\\A"), CreateDirResult::AlreadyExists);
  EXPECT_TRUE(fs.WriteAll("C:\\a\\f.txt", "data"));
}

TEST_F(FakeFileSystemTest, OpenFilesAreNotShared) {
  fs.AddFolder("C:\\d");
  auto f = fs.OpenWrite("C:\\d\\f", OpenMode::CreateAlways);
  ASSERT_NE(f, nullptr);
  EXPECT_EQ(fs.OpenWrite("C:\\D\\F", OpenMode::Append), nullptr);
  EXPECT_FALSE(fs.ReadAll("C:\\d\\f").has_value());
  EXPECT_FALSE(fs.Delete("C:\\d\\f"));
  EXPECT_TRUE(f->Write("abc"));
  EXPECT_TRUE(f->Close());
  EXPECT_EQ(fs.ReadAll("C:\\d\\f"), "abc");
}

TEST_F(FakeFileSystemTest, ModesCreateTruncateAndAppend) {
  fs.AddFile("C:\\f", "old");
  EXPECT_EQ(fs.OpenWrite("C:\\f", OpenMode::CreateNew), nullptr);
  {
    auto f = fs.OpenWrite("C:\\f", OpenMode::Append);
    f->Write("+1");
    f->Close();
  }
  EXPECT_EQ(fs.ReadAll("C:\\f"), "old+1");
  EXPECT_TRUE(fs.WriteAll("C:\\f", "new"));
  EXPECT_EQ(fs.ReadAll("C:\\f"), "new");
}

TEST_F(FakeFileSystemTest, MoveAndCopyRespectExistingTargets) {
  fs.AddFile("C:\\a", "A");
  fs.AddFile("C:\\b", "B");
  EXPECT_FALSE(fs.Move("C:\\a", "C:\\b", false));
  EXPECT_FALSE(fs.Copy("C:\\a", "C:\\b", true));
  EXPECT_TRUE(fs.Copy("C:\\a", "C:\\c", true));
  EXPECT_TRUE(fs.Move("C:\\a", "C:\\b", true));
  EXPECT_EQ(fs.ReadAll("C:\\b"), "A");
  EXPECT_FALSE(fs.Exists("C:\\a"));
}

TEST_F(FakeFileSystemTest, ListingMatchesWildcardsWithoutDescending) {
  fs.AddFile("C:\\m\\One.lnk", "");
  fs.AddFile("C:\\m\\two.LNK", "");
  fs.AddFile("C:\\m\\three.txt", "");
  fs.AddFile("C:\\m\\sub\\four.lnk", "");
  fs.AddFile("C:\\m two\\five.lnk", "");  // sorts between "C:\m" and "C:\m\..."
  auto lnk = fs.ListFolder("C:\\m", "*.lnk");
  ASSERT_EQ(lnk.size(), 2u);
  EXPECT_EQ(fs.ListFolder("C:\\m\\", "*").size(), 4u);
  EXPECT_TRUE(MatchesPattern("setup.exe", "s?tup.*"));
  EXPECT_FALSE(MatchesPattern("setup.ex", "*.exe"));
  EXPECT_TRUE(MatchesPattern("a.b.c", "*.c"));
}

TEST_F(FakeFileSystemTest, WriteLimitStopsPartWayAndReportsIt) {
  fs.AddFolder("C:\\d");
  fs.SetWriteLimit(4);
  auto f = fs.OpenWrite("C:\\d\\f", OpenMode::CreateAlways);
  EXPECT_FALSE(f->Write("abcdefgh"));
  f->Close();
  EXPECT_EQ(fs.ReadAll("C:\\d\\f"), "abcd");
}

TEST_F(FakeFileSystemTest, FaultHookFailsChosenOperations) {
  fs.AddFile("C:\\f", "x");
  fs.SetFaultHook([](FileOp op, std::string_view) { return op == FileOp::Delete; });
  EXPECT_FALSE(fs.Delete("C:\\f"));
  EXPECT_TRUE(fs.Exists("C:\\f"));
}

TEST_F(FakeFileSystemTest, TempFilesAreUniqueAndPrefixed) {
  auto a = fs.CreateTempFile(fs.TempFolder(), "kv");
  auto b = fs.CreateTempFile(fs.TempFolder(), "kv");
  ASSERT_TRUE(a && b);
  EXPECT_NE(*a, *b);
  EXPECT_NE(a->find("\\kv"), std::string::npos);
  EXPECT_TRUE(fs.Exists(*a));
}

TEST_F(FakeFileSystemTest, FoldersRemoveOnlyWhenEmpty) {
  fs.AddFile("C:\\x\\f", "");
  fs.AddFolder("C:\\x y");
  EXPECT_FALSE(fs.RemoveFolder("C:\\x"));
  fs.Delete("C:\\x\\f");
  EXPECT_TRUE(fs.RemoveFolder("C:\\x"));
}

// Each failure carries the kind that the Win32 adapter would report for the
// same situation, so store and log code can be tested for every reason.
TEST_F(FakeFileSystemTest, FailuresSayWhy) {
  fs.AddFile("C:\\d\\f", "x");
  EXPECT_TRUE(fs.ReadAll("C:\\d\\missing").status().Is(ErrorKind::NotFound));
  EXPECT_TRUE(fs.OpenWrite("C:\\nowhere\\f", OpenMode::CreateAlways).status().Is(ErrorKind::NotFound));
  EXPECT_TRUE(fs.OpenWrite("C:\\d\\f", OpenMode::CreateNew).status().Is(ErrorKind::AlreadyExists));
  EXPECT_TRUE(fs.ReadAll("C:\\d").status().Is(ErrorKind::AccessDenied));
  EXPECT_TRUE(fs.Delete("C:\\d\\missing").Is(ErrorKind::NotFound));
  EXPECT_TRUE(fs.Move("C:\\d\\f", "C:\\d\\f", false).ok());  // onto itself
  fs.AddFile("C:\\d\\g", "y");
  EXPECT_TRUE(fs.Move("C:\\d\\f", "C:\\d\\g", false).Is(ErrorKind::AlreadyExists));
  {
    auto open = fs.OpenWrite("C:\\d\\f", OpenMode::Append);
    ASSERT_TRUE(open);
    const Status busy = fs.ReadAll("C:\\d\\f").status();
    EXPECT_TRUE(busy.Is(ErrorKind::SharingViolation));
    EXPECT_EQ(busy.ToString(), "in use by another program: C:\\d\\f");
    EXPECT_TRUE(fs.Delete("C:\\d\\f").Is(ErrorKind::SharingViolation));
    EXPECT_TRUE(fs.Move("C:\\d\\g", "C:\\d\\f", true).Is(ErrorKind::SharingViolation));
    EXPECT_TRUE(open->Close());
    EXPECT_FALSE(open->Close());  // twice is a failure, not a crash
  }
  fs.SetWriteLimit(2);
  EXPECT_TRUE(fs.WriteAll("C:\\d\\f", "abc").Is(ErrorKind::DiskFull));
  EXPECT_EQ(fs.ReadAll("C:\\d\\f"), "ab");
  fs.SetWriteLimit(std::nullopt);

  fs.SetFaults([](FileOp op, std::string_view) -> std::optional<ErrorKind> {
    if (op == FileOp::Delete) return ErrorKind::AccessDenied;
    return std::nullopt;
  });
  const Status denied = fs.Delete("C:\\d\\f");
  EXPECT_TRUE(denied.Is(ErrorKind::AccessDenied));
  EXPECT_NE(denied.message().find("C:\\d\\f"), std::string::npos);
  EXPECT_TRUE(fs.Exists("C:\\d\\f"));
  fs.SetFaultHook([](FileOp op, std::string_view) { return op == FileOp::Read; });
  EXPECT_TRUE(fs.ReadAll("C:\\d\\f").status().Is(ErrorKind::Other));
}

// A folder's time moves when a name in it is added, removed or renamed, as
// on NTFS, and not when a file in it is rewritten; the drive root too.
TEST_F(FakeFileSystemTest, FolderTimesFollowTheirNames) {
  fs.AddFile("C:\\App\\a.exe", "MZ");
  auto time = [&](const char* path) { return fs.GetInfo(path)->last_write; };
  const FileTime t0 = m.clock.NowUtc();
  EXPECT_EQ(time("C:\\"), t0);
  EXPECT_EQ(time("C:\\App"), t0);

  m.clock.Advance(10);
  fs.AddFile("C:\\App\\a.exe", "MZ2");  // rewritten in place
  ASSERT_TRUE(fs.WriteAll("C:\\App\\a.exe", "MZ3"));
  EXPECT_EQ(time("C:\\App"), t0);
  EXPECT_EQ(time("C:\\App\\a.exe"), t0 + 10);

  const auto step = [&](auto change) {
    m.clock.Advance(10);
    change();
    return time("C:\\App") == m.clock.NowUtc();
  };
  EXPECT_TRUE(step([&] { ASSERT_TRUE(fs.WriteAll("C:\\App\\b.txt", "x")); }));
  EXPECT_TRUE(step([&] { ASSERT_TRUE(fs.Move("C:\\App\\a.exe", "C:\\App\\A.EXE", false)); }));
  EXPECT_TRUE(step([&] { ASSERT_TRUE(fs.Copy("C:\\App\\b.txt", "C:\\App\\c.txt", true)); }));
  EXPECT_FALSE(step([&] { ASSERT_TRUE(fs.Copy("C:\\App\\b.txt", "C:\\App\\c.txt", false)); }));
  EXPECT_TRUE(step([&] { ASSERT_TRUE(fs.Delete("C:\\App\\c.txt")); }));
  EXPECT_TRUE(step([&] { fs.MakeDirectory("C:\\App\\Sub"); }));
  EXPECT_TRUE(step([&] { ASSERT_TRUE(fs.RemoveFolder("C:\\App\\Sub")); }));
  EXPECT_FALSE(step([&] { fs.SetHidden("C:\\App\\b.txt", true); }));
  m.clock.Advance(10);
  fs.AddFolder("C:\\Other");
  EXPECT_EQ(time("C:\\"), m.clock.NowUtc());
}

}  // namespace
}  // namespace kv::platform
