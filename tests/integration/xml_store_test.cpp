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

}  // namespace
}  // namespace kv::store
