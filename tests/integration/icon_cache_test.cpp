// The icon cache on Windows: the files it writes from real executables,
// Wine's own and the fixture's, are icon files Windows itself loads.
#include <windows.h>

#include <gtest/gtest.h>

#include "integration/real_machine.h"
#include "platform/fake/version_block_builder.h"
#include "platform/icon_resources.h"
#include "platform/win32/wide.h"
#include "service/icon_cache.h"

namespace kv::service {
namespace {

using integration::Fixture;
using integration::Real;

struct Source {
  std::string icon_file;
  std::size_t images;  // in the group the cache file must hold; 0: any
};

TEST(RealIconCache, CachedIconsLoadWithLoadImage) {
  app::DataFolder folder(Real());
  // An image as the machine descriptions build them.
  const std::string built = Real().files.TempFolder() + "korvan-cache-built.exe";
  ASSERT_TRUE(Real().files.WriteAll(built, platform::BuildPeImage(nullptr, {{1, "", {16, 32}}, {2, "", {48}}})));
  const std::string windows = *Real().shell.GetFolder(platform::SpecialFolder::Windows);
  const std::string system = *Real().shell.GetFolder(platform::SpecialFolder::System);
  // kv_fixture_icons.exe: "KORVAN" {32}, id 2 {16, 32, 48}, id 9 {32}.
  const Source sources[] = {
      {Fixture("kv_fixture_icons.exe"), 1},
      {"\"" + Fixture("kv_fixture_icons.exe") + "\",1", 3},
      {Fixture("kv_fixture_icons.exe") + ",-9", 1},
      {Fixture("kv_icon_main.ico"), 3},
      {built, 2},
      {built + ",1", 1},
      {windows + "\\notepad.exe", 0},
      {windows + "\\regedit.exe", 0},
      {system + "\\shell32.dll,3", 0},
  };
  int n = 0;
  for (const Source& s : sources) {
    SoftwareInfo p;
    p.GlobalId = "kvtest" + std::to_string(++n);
    p.rti.IconFile = s.icon_file;
    const std::string path = IconCachePath(folder, p);
    Real().files.Delete(path).IgnoreError();
    ASSERT_EQ(CachedIconPath(Real(), folder, p), path) << s.icon_file;

    auto bytes = Real().files.ReadAll(path);
    ASSERT_TRUE(bytes);
    auto group = platform::ReadIconGroup(*bytes, 0);
    ASSERT_TRUE(group) << s.icon_file;
    if (s.images) {
      EXPECT_EQ(group->images.size(), s.images) << s.icon_file;
    }
    for (int size : {16, 32, 48}) {
      HANDLE icon = LoadImageW(nullptr, platform::win32::Widen(path).c_str(), IMAGE_ICON, size,
                               size, LR_LOADFROMFILE);
      EXPECT_NE(icon, nullptr) << s.icon_file << " at " << size;
      if (icon) DestroyIcon(static_cast<HICON>(icon));
    }
    Real().files.Delete(path).IgnoreError();
  }
  Real().files.Delete(built).IgnoreError();
}

}  // namespace
}  // namespace kv::service
