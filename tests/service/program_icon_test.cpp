#include "service/program_icon.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_machine.h"
#include "platform/fake/version_block_builder.h"

namespace kv::service {
namespace {

using platform::FakeIcon;
using platform::IconSize;

TEST(IconSource, QuotesAndTheIndexAreTakenOff) {
  EXPECT_EQ(ParseIconSource("\"C:\\P F\\a.exe\",-101"), (IconSource{"C:\\P F\\a.exe", -101}));
  EXPECT_EQ(ParseIconSource("C:\\a.exe,2"), (IconSource{"C:\\a.exe", 2}));
  EXPECT_EQ(ParseIconSource("C:\\a.exe"), (IconSource{"C:\\a.exe", 0}));
  // Only digits (with one minus in front) make an index.
  EXPECT_EQ(ParseIconSource("C:\\a,b.exe"), (IconSource{"C:\\a,b.exe", 0}));
  EXPECT_EQ(ParseIconSource("C:\\a.exe,"), (IconSource{"C:\\a.exe,", 0}));
  EXPECT_EQ(ParseIconSource("C:\\a.exe,-"), (IconSource{"C:\\a.exe,-", 0}));
  EXPECT_EQ(ParseIconSource("C:\\a.exe,1x"), (IconSource{"C:\\a.exe,1x", 0}));
  EXPECT_EQ(ParseIconSource("\"C:\\a.exe"), (IconSource{"C:\\a.exe", 0}));  // unclosed quote
  EXPECT_EQ(ParseIconSource(""), IconSource{});
}

class ProgramIconTest : public ::testing::Test {
 protected:
  // An executable whose one icon group has images of the given sizes.
  void AddExe(const std::string& path, std::uint16_t group_id, std::vector<int> sizes) {
    platform::IconGroupSpec group;
    group.id = group_id;
    group.sizes = std::move(sizes);
    m.files.AddFile(path, platform::BuildPeImage(nullptr, {group}));
  }
  // The size of the image that was chosen, or 0 when there was no icon.
  static int Chosen(const ExtractedIcon& e) {
    return e.icon ? static_cast<const FakeIcon&>(*e.icon).image().width : 0;
  }
  platform::FakeMachine m;
  SoftwareInfo p;
};

TEST_F(ProgramIconTest, TheIconFileComesFirstThenTheProgramThenTheUninstaller) {
  AddExe("C:\\P F\\app.exe", 101, {16, 48});
  AddExe("C:\\P F\\unins.exe", 1, {32});
  p.rti.IconFile = "\"C:\\P F\\app.exe\",-101";
  p.rti.cmdline = {"C:\\P F\\unins.exe", ""};
  ExtractedIcon e = ExtractProgramIcon(m.shell, p, IconSize::Large);
  EXPECT_EQ(Chosen(e), 48);
  EXPECT_EQ(e.source, (IconSource{"C:\\P F\\app.exe", -101}));
  EXPECT_EQ(Chosen(ExtractProgramIcon(m.shell, p, IconSize::Small)), 16);

  // The uninstaller's icon is only the last resort.
  p.rti.IconFile = "C:\\P F\\unins.exe";
  p.rti.IconFileIsUninstaller = true;
  p.rti.cmdline = {"C:\\P F\\app.exe", ""};
  e = ExtractProgramIcon(m.shell, p, IconSize::Large);
  EXPECT_EQ(e.source, (IconSource{"C:\\P F\\app.exe", 0}));
  p.rti.cmdline = {"C:\\P F\\missing.exe", ""};
  e = ExtractProgramIcon(m.shell, p, IconSize::Large);
  EXPECT_EQ(e.source, (IconSource{"C:\\P F\\unins.exe", 0}));
  EXPECT_EQ(Chosen(e), 32);

  p.rti.IconFile = "C:\\P F\\none.exe";
  EXPECT_FALSE(ExtractProgramIcon(m.shell, p, IconSize::Large).icon);
}

}  // namespace
}  // namespace kv::service
