// The client's own .lnk writer, read back through the real shell adapter.
#include <gtest/gtest.h>

#include "integration/real_machine.h"
#include "platform/win32/shell_link_win.h"
#include "platform/win32/wide.h"
#include "text/compare.h"

namespace kv {
namespace {

using integration::Fixture;
using integration::Real;
using platform::win32::ShellLinkObject;
using platform::win32::ShellLinkWriter;

class ShellLinkWriterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = Real().files.TempFolder() + "korvan-writer-\xC3\xA9\\";
    CleanUp();
    ASSERT_NE(Real().files.MakeDirectory(dir_), platform::CreateDirResult::Failed);
  }
  void TearDown() override { CleanUp(); }
  void CleanUp() {
    for (const auto& e : Real().files.ListFolder(dir_, "*")) Real().files.Delete(dir_ + e.name);
    Real().files.RemoveFolder(dir_);
  }

  // The working folder is not part of the port; read it with a link object.
  static std::string WorkingFolder(const std::string& link) {
    const platform::win32::ScopedComInit com;
    ShellLinkObject o = ShellLinkObject::Create();
    if (!o || FAILED(o.file->Load(platform::win32::Widen(link).c_str(), STGM_READ))) return "?";
    wchar_t folder[MAX_PATH] = L"";
    if (FAILED(o.link->GetWorkingDirectory(folder, MAX_PATH))) return "?";
    return platform::win32::Narrow(folder);
  }

  std::string dir_;
};

TEST_F(ShellLinkWriterTest, OneWriterWritesLinksTheAdapterReadsBack) {
  ShellLinkWriter writer;
  const std::string reader = Fixture("kv_fixture_english.exe");
  const std::string remover = Fixture("kv_fixture_lang0.exe");
  const std::string folder = reader.substr(0, reader.rfind('\\') + 1);
  const std::string first = dir_ + "Acme Reader \xC3\xA9.lnk";
  const std::string second = dir_ + "Remove.lnk";
  ASSERT_TRUE(writer.Write(first, reader, "/open \"a b\"", folder));
  // The second write must not keep the first link's arguments or folder.
  ASSERT_TRUE(writer.Write(second, remover, "", ""));

  auto a = Real().shell.ReadShellLink(first);
  ASSERT_TRUE(a);
  EXPECT_TRUE(text::EqualsNoCase(a->path, reader)) << a->path;
  EXPECT_EQ(a->arguments, "/open \"a b\"");
  EXPECT_TRUE(text::EqualsNoCase(WorkingFolder(first), folder)) << WorkingFolder(first);
  auto b = Real().shell.ReadShellLink(second);
  ASSERT_TRUE(b);
  EXPECT_TRUE(text::EqualsNoCase(b->path, remover)) << b->path;
  EXPECT_EQ(b->arguments, "");
  EXPECT_EQ(WorkingFolder(second), "");

  EXPECT_FALSE(writer.Write(dir_ + "missing\\x.lnk", reader, "", "")) << "no such folder";
  ASSERT_TRUE(writer.Write(first, remover, "/x", ""));  // overwrites
  EXPECT_TRUE(text::EqualsNoCase(Real().shell.ReadShellLink(first)->path, remover));
}

TEST_F(ShellLinkWriterTest, LastWriteTimeIsSetExactly) {
  const std::string link = dir_ + "Timed.lnk";
  ASSERT_TRUE(ShellLinkWriter().Write(link, Fixture("kv_fixture_plain.exe"), "", ""));
  const platform::FileTime t = 133'000'000'000'000'000ull + 1234567;
  ASSERT_TRUE(platform::win32::SetLastWriteTime(link, t));
  EXPECT_EQ(Real().files.GetInfo(link)->last_write, t);
  EXPECT_FALSE(platform::win32::SetLastWriteTime(dir_ + "absent.lnk", t));
}

}  // namespace
}  // namespace kv
