// Icons Windows extracts from an executable built by windres, from .ico
// files and from images the builder makes, and the portable reader's view
// of the same bytes.
#include <gtest/gtest.h>

#include "integration/real_machine.h"
#include "platform/fake/version_block_builder.h"
#include "platform/icon_resources.h"
#include "platform/win32/icon_win.h"

namespace kv::platform {
namespace {

using integration::Fixture;
using integration::Real;
using win32::IconHandle;
using win32::IconResourceId;

// kv_fixture_icons.exe: "KORVAN" {32}, id 2 {16, 32, 48}, id 9 {32}.
struct Case {
  int index;
  IconSize size;
  int image_width;  // of the image chosen from the file
};
constexpr Case kCases[] = {
    {0, IconSize::Large, 32}, {0, IconSize::Small, 32}, {1, IconSize::Large, 48},
    {1, IconSize::Small, 16}, {-2, IconSize::Large, 48}, {-2, IconSize::Small, 16},
    {2, IconSize::Small, 32}, {-9, IconSize::Large, 32},
};

TEST(RealIcons, ExtractedLargeAndSmallByIndexAndResourceId) {
  const std::string exe = Fixture("kv_fixture_icons.exe");
  for (const Case& c : kCases) {
    auto icon = Real().shell.ExtractFileIcon(exe, c.index, c.size);
    ASSERT_TRUE(icon) << c.index;
    // Scaled to the size asked for, whatever the image's own size.
    EXPECT_EQ(icon->width(), IconPixels(c.size)) << c.index;
    EXPECT_EQ(icon->height(), IconPixels(c.size)) << c.index;
    EXPECT_NE(IconHandle(*icon), nullptr);
  }
  for (int missing : {3, -1, -5})
    EXPECT_FALSE(Real().shell.ExtractFileIcon(exe, missing, IconSize::Large)) << missing;
  EXPECT_FALSE(Real().shell.ExtractFileIcon(Fixture("kv_fixture_plain.exe"), 0, IconSize::Large));
  EXPECT_FALSE(Real().shell.ExtractFileIcon(Fixture("no-such-file.exe"), 0, IconSize::Large));
}

TEST(RealIcons, ThePortableReaderChoosesTheImageWindowsChooses) {
  const std::string exe = Fixture("kv_fixture_icons.exe");
  auto bytes = Real().files.ReadAll(exe);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(CountIconGroups(*bytes), 3);
  for (const Case& c : kCases) {
    auto group = ReadIconGroup(*bytes, c.index);
    ASSERT_TRUE(group) << c.index;
    const auto chosen = ChooseIconImage(group->images, IconPixels(c.size));
    ASSERT_TRUE(chosen);
    const IconImage& image = group->images[*chosen];
    EXPECT_EQ(image.width, c.image_width) << c.index;
    auto icon = Real().shell.ExtractFileIcon(exe, c.index, c.size);
    ASSERT_TRUE(icon);
    EXPECT_EQ(IconResourceId(*icon), image.id) << c.index;
  }
  EXPECT_FALSE(ReadIconGroup(*bytes, 3));
}

TEST(RealIcons, IconFilesLoadAsOneGroup) {
  const std::string ico = Fixture("kv_icon_main.ico");
  for (IconSize size : {IconSize::Large, IconSize::Small}) {
    auto icon = Real().shell.ExtractFileIcon(ico, 0, size);
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->width(), IconPixels(size));
  }
  EXPECT_FALSE(Real().shell.ExtractFileIcon(ico, 1, IconSize::Large));
  auto bytes = Real().files.ReadAll(ico);
  ASSERT_TRUE(bytes);
  auto group = ReadIconGroup(*bytes, 0);
  ASSERT_TRUE(group);
  ASSERT_EQ(group->images.size(), 3u);
  EXPECT_EQ(group->images[2].width, 48);
}

TEST(RealIcons, WrittenIconFilesAndBuiltImagesLoadInWindows) {
  const std::string dir = Real().files.TempFolder();
  auto bytes = Real().files.ReadAll(Fixture("kv_fixture_icons.exe"));
  ASSERT_TRUE(bytes);
  auto ico = IconFileFromImage(*bytes, -2);
  ASSERT_TRUE(ico);
  const std::string ico_path = dir + "korvan-icon-cache-test.ico";
  ASSERT_TRUE(Real().files.WriteAll(ico_path, *ico));
  const std::string built_path = dir + "korvan-built-icons.exe";
  ASSERT_TRUE(Real().files.WriteAll(built_path, BuildPeImage(nullptr, {{0, "APP", {24}}, {7, "", {16, 48}}})));

  for (IconSize size : {IconSize::Large, IconSize::Small}) {
    auto from_ico = Real().shell.ExtractFileIcon(ico_path, 0, size);
    ASSERT_TRUE(from_ico);
    EXPECT_EQ(from_ico->width(), IconPixels(size));
    for (int index : {0, 1, -7}) {
      auto built = Real().shell.ExtractFileIcon(built_path, index, size);
      ASSERT_TRUE(built) << index;
      EXPECT_EQ(built->width(), IconPixels(size));
    }
  }
  // The builder numbers the images from 1: the 48 is RT_ICON 3.
  auto built = Real().shell.ExtractFileIcon(built_path, -7, IconSize::Large);
  ASSERT_TRUE(built);
  EXPECT_EQ(IconResourceId(*built), 3u);
  Real().files.Delete(ico_path).IgnoreError();
  Real().files.Delete(built_path).IgnoreError();
}

}  // namespace
}  // namespace kv::platform
