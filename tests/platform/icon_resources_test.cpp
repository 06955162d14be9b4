#include "platform/icon_resources.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "platform/fake/fake_machine.h"
#include "platform/fake/version_block_builder.h"
#include "platform/pe_resources.h"

namespace kv::platform {
namespace {

std::string Le32(std::uint32_t v) {
  std::string s(4, '\0');
  for (int i = 0; i < 4; ++i) s[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
  return s;
}
void Patch(std::string& s, std::size_t at, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) s[at + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

std::vector<int> Widths(const IconGroup& g) {
  std::vector<int> out;
  for (const auto& img : g.images) out.push_back(img.width);
  return out;
}

// Groups in the order given, not the order the directory lists them.
std::string ThreeGroups() {
  return BuildPeImage(nullptr, {{5, "", {16, 32}}, {0, "MAIN", {48}}, {2, "", {32}}});
}

// Where a resource's bytes lie in the image (the builder's only section
// starts at file offset 0x200, RVA 0x1000).
std::size_t FileOffset(const std::string& image, std::uint16_t type, std::size_t index) {
  return static_cast<std::size_t>(ListPeResources(image, type).at(index).data->data() - image.data());
}
std::uint32_t Rva(std::size_t file_offset) { return static_cast<std::uint32_t>(file_offset - 0x200 + 0x1000); }

TEST(IconGroups, IndexCountsNamedGroupsFirstThenIdsAscending) {
  const std::string image = ThreeGroups();
  EXPECT_EQ(CountIconGroups(image), 3);
  const std::pair<int, std::vector<int>> cases[] = {
      {0, {48}}, {1, {32}}, {2, {16, 32}}, {-5, {16, 32}}, {-2, {32}},
  };
  for (const auto& [index, widths] : cases) {
    auto g = ReadIconGroup(image, index);
    ASSERT_TRUE(g) << index;
    EXPECT_EQ(Widths(*g), widths) << index;
  }
  for (int missing : {3, 100, -1, -3, -70000, INT_MIN}) EXPECT_FALSE(ReadIconGroup(image, missing)) << missing;

  // Each image carries its RT_ICON bytes and id.
  auto g = ReadIconGroup(image, -5);
  ASSERT_TRUE(g);
  EXPECT_EQ(g->images[1].data.size(), BuildIconImage(32, 0).size());
  EXPECT_EQ(g->images[1].bit_count, 32);
  EXPECT_NE(g->images[0].id, g->images[1].id);
  const auto icons = ListPeResources(image, 3);
  ASSERT_EQ(icons.size(), 4u);
  for (const auto& r : icons) {
    if (r.id != g->images[1].id) continue;
    EXPECT_EQ(*r.data, g->images[1].data);
  }
}

TEST(IconGroups, VersionAndIconsLiveSideBySide) {
  const std::string block = BuildVersionBlock({});
  const std::string image = BuildPeImage(&block, {{1, "", {16}}});
  EXPECT_EQ(ExtractVersionResource(image), block);
  EXPECT_EQ(CountIconGroups(image), 1);
  EXPECT_EQ(CountIconGroups(BuildPeImage(&block)), 0);
  EXPECT_FALSE(ReadIconGroup(BuildPeImage(&block), 0));
  EXPECT_EQ(CountIconGroups("not an image"), 0);
}

TEST(IconChoice, ExactThenLargerThenSmallerThenDeeper) {
  auto images = [](std::vector<std::pair<int, int>> size_bits) {
    std::vector<IconImage> out;
    for (auto [size, bits] : size_bits) {
      IconImage img;
      img.width = img.height = size;
      img.bit_count = bits;
      out.push_back(img);
    }
    return out;
  };
  struct Case {
    std::vector<std::pair<int, int>> images;
    int pixels;
    std::size_t chosen;
  };
  const Case cases[] = {
      {{{16, 32}, {32, 32}, {48, 32}}, 48, 2},
      {{{16, 32}, {32, 32}, {48, 32}}, 16, 0},
      {{{32, 32}}, 16, 0},
      {{{24, 32}, {256, 32}, {64, 32}}, 48, 2},  // nearest larger, scaled down
      {{{8, 32}, {20, 32}, {16, 32}}, 48, 1},     // no larger one: the largest
      {{{48, 32}, {20, 32}}, 32, 0},              // larger wins over a closer smaller
      {{{32, 4}, {32, 32}, {32, 8}}, 32, 1},
      {{{32, 32}, {32, 32}}, 32, 0},
  };
  for (const auto& c : cases) EXPECT_EQ(ChooseIconImage(images(c.images), c.pixels), c.chosen) << c.pixels;
  EXPECT_FALSE(ChooseIconImage({}, 16));

  // Without a bit count the colour count decides; none means 256 or more.
  auto counted = images({{16, 0}, {16, 0}, {16, 0}});
  counted[0].colour_count = 16;
  counted[1].colour_count = 0;
  counted[2].colour_count = 2;
  EXPECT_EQ(ChooseIconImage(counted, 16), 1u);
}

TEST(IconFiles, WrittenFileReadsBackAsTheSameGroup) {
  const std::string image = BuildPeImage(nullptr, {{1, "", {16, 256, 48}}});
  auto group = ReadIconGroup(image, 0);
  ASSERT_TRUE(group);
  auto ico = IconFileFromImage(image, 0);
  ASSERT_TRUE(ico);
  EXPECT_EQ(*ico, BuildIconFile(*group));
  // The header as Windows reads it: 256 written as 0, offsets contiguous.
  EXPECT_EQ(ico->substr(0, 6), std::string("\0\0\1\0\3\0", 6));
  EXPECT_EQ((*ico)[6 + 16], '\0');
  std::uint32_t offset = 6 + 3 * 16;
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(ico->substr(6 + i * 16 + 8, 4), Le32(static_cast<std::uint32_t>(group->images[i].data.size())));
    EXPECT_EQ(ico->substr(6 + i * 16 + 12, 4), Le32(offset));
    offset += static_cast<std::uint32_t>(group->images[i].data.size());
  }
  EXPECT_EQ(ico->size(), offset);

  auto back = ReadIconGroup(*ico, 0);
  ASSERT_TRUE(back);
  ASSERT_EQ(back->images.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(back->images[i].width, group->images[i].width);
    EXPECT_EQ(back->images[i].height, group->images[i].height);
    EXPECT_EQ(back->images[i].bit_count, 32);
    EXPECT_EQ(back->images[i].planes, 1);
    EXPECT_EQ(back->images[i].data, group->images[i].data);
  }
  EXPECT_EQ(CountIconGroups(*ico), 1);
  EXPECT_EQ(IconFileFromImage(*ico, 0), ico);
  EXPECT_FALSE(ReadIconGroup(*ico, 1));
  EXPECT_FALSE(ReadIconGroup(*ico, -1));
  EXPECT_FALSE(IconFileFromImage(image, 1));
}

TEST(IconFiles, MalformedIconFilesGiveWhatIsReadable) {
  const std::string good = BuildIconFile(*ReadIconGroup(BuildPeImage(nullptr, {{1, "", {16, 32}}}), 0));
  auto read = [](std::string ico) { return ReadIconGroup(ico, 0); };

  std::string beyond = good;  // second image's offset past the end
  Patch(beyond, 6 + 16 + 12, static_cast<std::uint32_t>(good.size()), 4);
  ASSERT_TRUE(read(beyond));
  EXPECT_EQ(Widths(*read(beyond)), std::vector<int>{16});

  std::string wraps = good;  // offset + size overflows 32 bits
  Patch(wraps, 6 + 8, 0x20, 4);
  Patch(wraps, 6 + 12, 0xFFFFFFF0u, 4);
  EXPECT_EQ(Widths(*read(wraps)), std::vector<int>{32});

  std::string cursor = good;
  Patch(cursor, 2, 2, 2);
  std::string none = good;
  Patch(none, 4, 0, 2);
  std::string too_many = good;
  Patch(too_many, 4, 0xFFFF, 2);
  for (const auto& bad : {cursor, none, too_many, good.substr(0, 6 + 16 + 15), good.substr(0, 5), std::string()})
    EXPECT_FALSE(read(bad));
  // Entries sharing one image hold no more bytes than the file has.
  std::string shared = good.substr(0, 6 + 2 * 16);
  Patch(shared, 4, 0xFFFF, 2);
  const std::uint32_t image_size = 4264;
  for (int i = 0; i < 0xFFFF; ++i)
    shared += good.substr(6 + 16, 8) + Le32(image_size) + Le32(6 + 0xFFFF * 16);
  shared.erase(6, 2 * 16);
  shared += good.substr(good.size() - image_size);
  auto capped = read(shared);
  ASSERT_TRUE(capped);
  EXPECT_LE(capped->images.size() * image_size, shared.size());
  EXPECT_GT(capped->images.size(), 200u);

  // Cut inside the image data: the first image survives.
  EXPECT_EQ(Widths(*read(good.substr(0, good.size() - 1))), std::vector<int>{16});
}

TEST(IconGroups, MalformedImagesGiveNothingAndNeverLoop) {
  const std::string good = ThreeGroups();
  const std::size_t dir = FileOffset(good, 14, 2);  // group 5: {16, 32}

  std::string truncated_dir = good;  // more entries than the group's bytes hold
  Patch(truncated_dir, dir + 4, 3, 2);
  EXPECT_FALSE(ReadIconGroup(truncated_dir, 2));
  EXPECT_TRUE(ReadIconGroup(truncated_dir, 1));

  std::string missing_icon = good;  // one image names an RT_ICON that is not there
  Patch(missing_icon, dir + 6 + 14 + 12, 99, 2);
  EXPECT_EQ(Widths(*ReadIconGroup(missing_icon, 2)), std::vector<int>{16});
  Patch(missing_icon, dir + 6 + 12, 98, 2);
  EXPECT_FALSE(ReadIconGroup(missing_icon, 2));

  // A group whose data entry points outside the image still takes its place
  // in the numbering, as Windows enumerates it.
  const std::size_t size = ListPeResources(good, 14)[1].data->size();
  const std::string entry = Le32(Rva(FileOffset(good, 14, 1))) + Le32(static_cast<std::uint32_t>(size));
  const std::size_t at = good.find(entry);
  ASSERT_NE(at, std::string::npos);
  std::string outside = good;
  Patch(outside, at, 0x7FFFFFF0u, 4);
  EXPECT_EQ(CountIconGroups(outside), 3);
  EXPECT_FALSE(ReadIconGroup(outside, 1));
  EXPECT_EQ(Widths(*ReadIconGroup(outside, 2)), (std::vector<int>{16, 32}));
  std::string too_long = good;
  Patch(too_long, at + 4, 0x10000000u, 4);
  EXPECT_FALSE(ReadIconGroup(too_long, 1));

  // A language directory whose entry points back at the root.
  const std::string lang = Le32(1033) + Le32(static_cast<std::uint32_t>(at - 0x200));
  const std::size_t lang_at = good.find(lang);
  ASSERT_NE(lang_at, std::string::npos);
  std::string loop = good;
  Patch(loop, lang_at + 4, 0x80000000u, 4);
  EXPECT_FALSE(ReadIconGroup(loop, 1));
  EXPECT_TRUE(ReadIconGroup(loop, 0));

  // Every cut of the image: no crash, and nothing half-read.
  for (std::size_t n = 0; n < good.size(); n += 7) {
    const std::string cut = good.substr(0, n);
    for (int index : {0, 1, 2, -5}) {
      if (auto g = ReadIconGroup(cut, index)) {
        for (const auto& img : g->images) EXPECT_EQ(img.data.size(), BuildIconImage(img.width, 0).size());
      }
    }
  }
}

TEST(FakeShellIcons, ExtractsFromImagesAndIconFilesInTheFakeFiles) {
  FakeMachine m;
  m.files.AddFolder("C:\\Apps");
  m.files.AddFile("C:\\Apps\\three.exe", ThreeGroups());
  m.files.AddFile("C:\\Apps\\app.ico", *IconFileFromImage(ThreeGroups(), 2));
  m.files.AddFile("C:\\Apps\\text.exe", "MZ but nothing else");

  auto large = m.shell.ExtractFileIcon("C:\\Apps\\three.exe", 2, IconSize::Large);
  ASSERT_TRUE(large);
  // Drawn at the size asked for, from the 32-pixel image.
  EXPECT_EQ(large->width(), 48);
  EXPECT_EQ(large->height(), 48);
  EXPECT_EQ(static_cast<FakeIcon&>(*large).image().width, 32);
  EXPECT_TRUE(static_cast<FakeIcon&>(*large).image().data.empty());
  auto small = m.shell.ExtractFileIcon("C:\\Apps\\three.exe", -5, IconSize::Small);
  ASSERT_TRUE(small);
  EXPECT_EQ(small->width(), 16);
  EXPECT_EQ(static_cast<FakeIcon&>(*small).image().width, 16);
  auto named = m.shell.ExtractFileIcon("C:\\Apps\\three.exe", 0, IconSize::Small);
  ASSERT_TRUE(named);
  EXPECT_EQ(static_cast<FakeIcon&>(*named).image().width, 48);

  auto ico = m.shell.ExtractFileIcon("C:\\Apps\\app.ico", 0, IconSize::Small);
  ASSERT_TRUE(ico);
  EXPECT_EQ(static_cast<FakeIcon&>(*ico).image().width, 16);
  EXPECT_EQ(static_cast<FakeIcon&>(*ico).image().id, 0);

  EXPECT_FALSE(m.shell.ExtractFileIcon("C:\\Apps\\app.ico", 1, IconSize::Small));
  EXPECT_FALSE(m.shell.ExtractFileIcon("C:\\Apps\\three.exe", 3, IconSize::Large));
  EXPECT_FALSE(m.shell.ExtractFileIcon("C:\\Apps\\text.exe", 0, IconSize::Large));
  EXPECT_FALSE(m.shell.ExtractFileIcon("C:\\Apps\\missing.exe", 0, IconSize::Large));
  m.files.SetFaults([](FileOp op, std::string_view) {
    return op == FileOp::Read ? std::optional(ErrorKind::SharingViolation) : std::nullopt;
  });
  EXPECT_FALSE(m.shell.ExtractFileIcon("C:\\Apps\\three.exe", 0, IconSize::Large));
}

}  // namespace
}  // namespace kv::platform
