// A store saved and loaded through the real file system, non-ASCII text included.
#include <gtest/gtest.h>

#include "app/data_folder.h"
#include "platform/machine.h"
#include "store/xml_store.h"

namespace kv::store {
namespace {

TEST(RealStore, SavesThroughTheBakFileAndLoadsBack) {
  auto& machine = platform::SystemMachine();
  app::DataFolder folder(machine);
  const std::string name = "integration-store.xml";
  const std::string value = "Caf\xC3\xA9 & <\xD0\x9F\xD1\x80\xD0\xBE> \"\xE4\xB8\xAD\"";
  ASSERT_TRUE(SaveStore(folder, name, [&](XmlWriter& w) {
    w.Open("", "Store");
    w.Text(" ", "Name", value);
    w.Int32(" ", "Count", -7);
    w.Close("", "Store");
  }));
  const std::string path = folder.GetDataFilePath(name);
  EXPECT_TRUE(machine.files.Exists(path));
  EXPECT_FALSE(machine.files.Exists(path + ".bak"));
  auto doc = LoadStore(folder, name);
  ASSERT_TRUE(doc);
  auto store = doc->Find("Store");
  ASSERT_TRUE(store);
  EXPECT_EQ(store->Find("Name")->Text(), value);
  EXPECT_EQ(store->Find("Count")->Int32(), -7);
  const auto bytes = machine.files.ReadAll(path);
  ASSERT_TRUE(bytes);
  EXPECT_EQ(bytes->rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<Store>\r\n", 0), 0u);
  machine.files.Delete(path);
}

// A store file that another program holds open is not replaced, and a
// broken one is renamed aside, on the real file system.
TEST(RealStore, AHeldFileIsNotReplacedAndABrokenOneIsKeptAside) {
  auto& machine = platform::SystemMachine();
  app::DataFolder folder(machine);
  const std::string name = "integration-held.xml";
  const std::string path = folder.GetDataFilePath(name);
  auto build = [](XmlWriter& w) {
    w.Open("", "Store");
    w.Close("", "Store");
  };
  ASSERT_TRUE(machine.files.WriteAll(path, "<Old/>"));
  {
    auto other = machine.files.OpenWrite(path, platform::OpenMode::Append);  // not shared
    ASSERT_TRUE(other);
    EXPECT_TRUE(LoadStore(folder, name).status().Is(platform::ErrorKind::SharingViolation));
    ASSERT_TRUE(other->Close());
  }
  EXPECT_FALSE(SaveStore(folder, name, build));
  EXPECT_EQ(machine.files.ReadAll(path), "<Old/>");
  ASSERT_TRUE(LoadStore(folder, name));
  ASSERT_TRUE(SaveStore(folder, name, build));

  ASSERT_TRUE(machine.files.WriteAll(path, "<Store><Trunc"));
  EXPECT_FALSE(LoadStore(folder, name));
  EXPECT_EQ(machine.files.ReadAll(path + ".broken"), "<Store><Trunc");
  EXPECT_FALSE(machine.files.Exists(path));
  machine.files.Delete(path + ".broken").IgnoreError();
}

}  // namespace
}  // namespace kv::store
