#include "store/xml_store.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "app/activity_log.h"
#include "platform/fake/fake_machine.h"
#include "text/format.h"

namespace kv::store {
namespace {

using platform::FileOp;
using Names = std::vector<std::string>;

constexpr std::string_view kStore = "softList.xml";
constexpr std::string_view kBak = "softList.xml.bak";

// Every item carries its generation, so a load tells a complete old, a
// complete new and a mixed document apart.
struct Snapshot {
  std::string generation;
  std::vector<std::string> items;
  bool operator==(const Snapshot&) const = default;
};

Snapshot MakeSnapshot(const std::string& generation, int count) {
  Snapshot s{generation, {}};
  for (int i = 0; i < count; ++i) s.items.push_back(generation + text::Format("-%d \xC3\xA9", i));
  return s;
}

struct World {
  platform::FakeMachine m;
  app::DataFolder folder{m.machine};

  std::unique_ptr<app::ActivityLog> log;

  std::string Path(std::string_view name) { return folder.GetDataFolder() + std::string(name); }
  // An enabled log where the data folder reports its problems.
  app::ActivityLog& AttachLog() {
    log = std::make_unique<app::ActivityLog>(m.machine);
    log->Open("C:\\log.txt", false, "");
    log->SetDisabled(false);
    folder.SetLog(log.get());
    return *log;
  }
  Names DataFiles() {
    Names names;
    for (auto& e : m.files.ListFolder(folder.GetDataFolder())) names.push_back(e.name);
    return names;
  }
  bool Save(const Snapshot& s) {
    return SaveStore(folder, kStore, [&](XmlWriter& w) {
      w.Open("", "KV");
      w.Text(" ", "Generation", s.generation);
      w.Open(" ", "Items");
      for (const std::string& item : s.items) w.Text("  ", "Item", item);
      w.Close(" ", "Items");
      w.Close("", "KV");
    }).ok();
  }
  std::optional<Snapshot> Load() {
    const auto doc = LoadStore(folder, kStore);
    if (!doc) return std::nullopt;
    Snapshot s;
    if (auto g = doc->Find("KV/Generation")) s.generation = g->Text();
    if (auto items = doc->Find("KV/Items"))
      for (XmlElement item : items->Children()) s.items.push_back(item.Text());
    return s;
  }
};

TEST(XmlStoreTest, BakIsReadOnlyWhenTheStoreIsMissing) {
  World w;
  const Snapshot a = MakeSnapshot("a", 3), b = MakeSnapshot("b", 2);
  EXPECT_FALSE(w.Load());
  ASSERT_TRUE(w.Save(a));
  EXPECT_EQ(w.DataFiles(), Names{"softList.xml"});
  ASSERT_TRUE(w.m.files.Move(w.Path(kStore), w.Path(kBak), false));
  EXPECT_EQ(w.Load(), a);
  ASSERT_TRUE(w.Save(b));
  EXPECT_EQ(w.DataFiles(), Names{"softList.xml"});
  EXPECT_EQ(w.Load(), b);

}

// A store file that does not parse is kept aside as ".broken" (only the
// newest), the log says so, and the ".bak" of an interrupted save, if any,
// takes its place; a save then starts a new file without losing the old bytes.
TEST(XmlStoreTest, ABrokenStoreIsKeptAsideBeforeItIsReplaced) {
  World w;
  app::ActivityLog& log = w.AttachLog();
  const Snapshot a = MakeSnapshot("a", 3), b = MakeSnapshot("b", 2);
  ASSERT_TRUE(w.Save(a));
  const std::string good = *w.m.files.ReadAll(w.Path(kStore));

  for (std::size_t cut : {good.size() - 9, good.size() / 2, kXmlHeader.size(), std::size_t{0}}) {
    const std::string broken = good.substr(0, cut);
    w.m.files.AddFile(w.Path(kStore), broken);
    const auto doc = LoadStore(w.folder, kStore);
    EXPECT_TRUE(doc.status().Is(platform::ErrorKind::NotFound)) << doc.status().ToString();
    EXPECT_EQ(w.m.files.ReadAll(w.Path("softList.xml.broken")), broken) << cut;
    EXPECT_EQ(w.DataFiles(), (Names{"softList.xml.broken"})) << cut;
  }
  EXPECT_NE(log.Buffered().find("softList.xml is not a readable document; it was kept as "),
            std::string::npos)
      << log.Buffered();

  // Beside the complete .bak of an interrupted save, that document is loaded.
  w.m.files.AddFile(w.Path(kStore), "<KV><Generation>");
  w.m.files.AddFile(w.Path(kBak), good);
  EXPECT_EQ(w.Load(), a);
  ASSERT_TRUE(w.Save(b));
  EXPECT_EQ(w.Load(), b);
  EXPECT_EQ(w.DataFiles(), (Names{"softList.xml", "softList.xml.broken"}));
  EXPECT_EQ(w.m.files.ReadAll(w.Path("softList.xml.broken")), "<KV><Generation>");
}

// A store file that is there but cannot be read now, or a broken one that
// cannot be moved aside, is never replaced in that run: saves are refused
// until a later load reads it.
TEST(XmlStoreTest, AStoreThatCannotBeReadIsNotOverwritten) {
  World w;
  app::ActivityLog& log = w.AttachLog();
  const Snapshot a = MakeSnapshot("a", 3), b = MakeSnapshot("b", 2);
  ASSERT_TRUE(w.Save(a));
  const std::string good = *w.m.files.ReadAll(w.Path(kStore));

  w.m.files.SetFaults([](FileOp op, std::string_view) -> std::optional<platform::ErrorKind> {
    if (op == FileOp::Read) return platform::ErrorKind::SharingViolation;
    return std::nullopt;
  });
  const auto doc = LoadStore(w.folder, kStore);
  EXPECT_TRUE(doc.status().Is(platform::ErrorKind::SharingViolation));
  EXPECT_NE(log.Buffered().find("could not be read (in use by another program: injected "),
            std::string::npos)
      << log.Buffered();
  w.m.files.SetFaults(nullptr);
  EXPECT_FALSE(w.Save(b));
  EXPECT_FALSE(w.Save(b));  // still held: no load has read it yet
  EXPECT_EQ(w.m.files.ReadAll(w.Path(kStore)), good);
  EXPECT_EQ(w.DataFiles(), Names{"softList.xml"});
  EXPECT_EQ(w.Load(), a);
  ASSERT_TRUE(w.Save(b));
  EXPECT_EQ(w.Load(), b);

  // Broken, and the rename aside fails: held as well, the bytes kept.
  w.m.files.AddFile(w.Path(kStore), "<KV>");
  w.m.files.SetFaultHook([](FileOp op, std::string_view) { return op == FileOp::Move; });
  EXPECT_TRUE(LoadStore(w.folder, kStore).status().Is(platform::ErrorKind::Corrupt));
  w.m.files.SetFaultHook(nullptr);
  EXPECT_FALSE(w.Save(a));
  EXPECT_EQ(w.m.files.ReadAll(w.Path(kStore)), "<KV>");
  // A read error that the disk calls corrupt is a read error: held, not renamed.
  w.m.files.AddFile(w.Path(kStore), good);
  w.m.files.SetFaults([](FileOp op, std::string_view) -> std::optional<platform::ErrorKind> {
    if (op == FileOp::Read) return platform::ErrorKind::Corrupt;
    return std::nullopt;
  });
  EXPECT_FALSE(LoadStore(w.folder, kStore));
  w.m.files.SetFaults(nullptr);
  EXPECT_FALSE(w.m.files.Exists(w.Path("softList.xml.broken")));
  EXPECT_FALSE(w.Save(a));
  EXPECT_EQ(w.m.files.ReadAll(w.Path(kStore)), good);
  ASSERT_TRUE(w.Load());

  // A data folder that cannot be reached (a share that is down) is no empty
  // folder: nothing is found, and nothing may be saved over it later.
  ASSERT_TRUE(w.Save(a));
  {
    World away;
    away.m.files.SetFaultHook([](FileOp op, std::string_view) { return op == FileOp::CreateDir; });
    const auto doc = LoadStore(away.folder, kStore);
    EXPECT_TRUE(doc.status().Is(platform::ErrorKind::Network)) << doc.status().ToString();
    EXPECT_TRUE(away.folder.IsHeld(kStore));
  }
  w.m.files.AddFile(w.Path(kStore), "<KV>");

  // A missing file releases the hold too: there is nothing left to lose.
  ASSERT_TRUE(w.m.files.Delete(w.Path(kStore)));
  EXPECT_FALSE(w.Load());
  EXPECT_TRUE(w.Save(a));
}

// The save sequence with each of its file operations failing in turn, with a
// crash at each point (that operation and every later one fail), and with a
// disk that fills up after N bytes. The old document is either the store
// file or, after an interrupted earlier save, the .bak alone.
class SaveFaultTest : public ::testing::TestWithParam<bool> {
 protected:
  const Snapshot old_ = MakeSnapshot("old", 40), new_ = MakeSnapshot("new", 41);

  std::unique_ptr<World> Start() {
    auto w = std::make_unique<World>();
    EXPECT_TRUE(w->Save(old_));
    if (GetParam()) {
      EXPECT_TRUE(w->m.files.Move(w->Path(kStore), w->Path(kBak), false));
    }
    return w;
  }

  // A load finds a complete document, and the next undisturbed save works.
  void ExpectOldOrNew(World& w, const std::string& what) {
    w.m.files.SetFaultHook(nullptr);
    w.m.files.SetWriteLimit(std::nullopt);
    const std::optional<Snapshot> got = w.Load();
    ASSERT_TRUE(got) << what;
    EXPECT_TRUE(*got == old_ || *got == new_) << what << ": " << got->generation << " with "
                                              << got->items.size() << " items";
    const Snapshot next = MakeSnapshot("next", 3);
    ASSERT_TRUE(w.Save(next)) << what;
    EXPECT_EQ(w.Load(), next) << what;
    EXPECT_EQ(w.DataFiles(), Names{"softList.xml"}) << what;
  }
};

TEST_P(SaveFaultTest, ALoadFindsTheCompleteOldOrNewDocument) {
  std::size_t ops = 0, size = 0;
  {
    auto w = Start();
    w->m.files.SetFaultHook([&](FileOp, std::string_view) { return ++ops, false; });
    ASSERT_TRUE(w->Save(new_));
    size = w->m.files.ReadAll(w->Path(kStore))->size();
  }
  ASSERT_GE(ops, 4u);  // create, write, close, rename at least
  for (bool crash : {false, true}) {
    for (std::size_t fail = 0; fail < ops; ++fail) {
      auto w = Start();
      std::size_t n = 0;
      w->m.files.SetFaultHook([&](FileOp, std::string_view) {
        const std::size_t i = n++;
        return crash ? i >= fail : i == fail;
      });
      w->Save(new_);
      ExpectOldOrNew(*w, (crash ? "crash at operation " : "failure at operation ") +
                             std::to_string(fail));
    }
  }
  for (std::size_t limit : {std::size_t{0}, std::size_t{1}, size / 2, size - 1, size}) {
    auto w = Start();
    w->m.files.SetWriteLimit(limit);
    EXPECT_EQ(w->Save(new_), limit == size);
    w->m.files.SetWriteLimit(std::nullopt);
    EXPECT_EQ(w->Load(), limit == size ? new_ : old_) << limit;
    ExpectOldOrNew(*w, "limit " + std::to_string(limit));
  }
}

INSTANTIATE_TEST_SUITE_P(OldDocument, SaveFaultTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "InBakOnly" : "InStore"; });

TEST(XmlDocumentTest, ContainersMatchExactlyFieldsWithoutRegardToCase) {
  const auto doc = XmlDocument::Parse(
      "<KV>\r\n"
      " <softwarelist><SoftwareInfo><Name>wrong</Name></SoftwareInfo></softwarelist>\r\n"
      " <SoftwareList><SoftwareInfo>\r\n"
      "  <NAME>first</NAME><!-- skipped -->\r\n"
      "  <flags>4294967295</flags><Unknown>9</Unknown><Name>second</Name>\r\n"
      "  <hidden>TRUE</hidden><Version>1.2 beta</Version>\r\n"
      " </SoftwareInfo></SoftwareList>\r\n"
      "</KV>\r\n");
  ASSERT_TRUE(doc);
  EXPECT_FALSE(doc->Find("kv/SoftwareList"));
  EXPECT_FALSE(doc->Find("KV/SoftwareList/softwareinfo"));
  const auto info = doc->Find("KV/SoftwareList/SoftwareInfo");
  ASSERT_TRUE(info);
  std::string name, version, publisher = "default";
  std::uint32_t flags = 0;
  bool hidden = false;
  ReadFields(*info, {{"Name", &name}, {"Flags", &flags}, {"Hidden", &hidden},
                     {"Publisher", &publisher},
                     {"Version", [&](const XmlElement& e) { version = e.Text(); }}});
  EXPECT_EQ(name, "second");  // a later duplicate wins
  EXPECT_EQ(flags, 0xFFFFFFFFu);
  EXPECT_TRUE(hidden);
  EXPECT_EQ(version, "1.2 beta");
  EXPECT_EQ(publisher, "default");
}

TEST(XmlDocumentTest, TextIsTheWholeResolvedContent) {
  const auto doc = XmlDocument::Parse(
      "<KV>\r\n"
      " <A>x<b>y<c>z</c></b><![CDATA[<raw>&amp;]]>&lt;&#x263A;&#233;</A>\r\n"
      " <Blank> </Blank><Closed/><Bad>caf\xE9</Bad>\r\n"
      " <Nested>\r\n  <Inner>1</Inner>\r\n </Nested>\r\n"
      " <Attrs Name=\"n&amp;\" name=\"lower\"/>\r\n"
      "</KV>");
  ASSERT_TRUE(doc);
  const XmlElement root = doc->Root();
  EXPECT_EQ(root.Find("A")->Text(), "xyz<raw>&amp;<\xE2\x98\xBA\xC3\xA9");
  EXPECT_EQ(root.Find("Blank")->Text(), " ");
  EXPECT_EQ(root.Find("Closed")->Text(), "");
  EXPECT_EQ(root.Find("Bad")->Text(), "caf\xEF\xBF\xBD");
  EXPECT_EQ(root.Find("Nested")->Text(), "1");
  const XmlElement attrs = *root.Find("Attrs");
  EXPECT_EQ(attrs.Attribute("name"), "lower");
  EXPECT_EQ(attrs.Attribute("NAME"), std::nullopt);
  EXPECT_EQ(attrs.AttributeNoCase("NAME"), "n&");

  // Another declared encoding is decoded too.
  const auto latin1 =
      XmlDocument::Parse("<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><KV>\xE9</KV>");
  ASSERT_TRUE(latin1);
  EXPECT_EQ(latin1->Root().Text(), "\xC3\xA9");
}

}  // namespace
}  // namespace kv::store
