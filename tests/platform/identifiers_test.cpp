// Digests and GUIDs from the system's providers: libcrypto natively, BCrypt
// and COM when this suite runs under Wine.
#include "platform/identifiers.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "platform/fake/fake_machine.h"

namespace kv::platform {
namespace {

TEST(Identifiers, Md5OfKnownTexts) {
  Identifiers& ids = SystemIdentifiers();
  const std::pair<std::string, std::string> cases[] = {
      {"", "d41d8cd98f00b204e9800998ecf8427e"},
      {"password", "5f4dcc3b5aa765d61d8327deb882cf99"},
      {"The quick brown fox jumps over the lazy dog", "9e107d9d372bb6826bd81d3542a419d6"},
      {"na\xC3\xAFve", "63899c6b555841978b89319d701f9b5a"},  // UTF-8 bytes as they are
      {std::string("a\0b", 3), "70350f6027bce3713f6b76473084309b"},
  };
  for (const auto& [text, digest] : cases) {
    auto got = ids.Md5Hex(text);
    ASSERT_TRUE(got) << got.status().ToString();
    EXPECT_EQ(*got, digest) << text;
  }
  // A text longer than one piece of any provider's buffer.
  const std::string big(3u << 20, 'k');
  auto once = ids.Md5Hex(big);
  ASSERT_TRUE(once);
  EXPECT_EQ(once->size(), 32u);
  EXPECT_NE(*once, *ids.Md5Hex(big.substr(1)));
}

TEST(Identifiers, NewGuidsAreRandomInRegistryForm) {
  Identifiers& ids = SystemIdentifiers();
  std::set<std::string> seen;
  for (int i = 0; i < 64; ++i) {
    auto guid = ids.NewGuid();
    ASSERT_TRUE(guid) << guid.status().ToString();
    EXPECT_TRUE(IsRegistryGuid(*guid)) << *guid;
    EXPECT_EQ((*guid)[15], '4') << *guid;  // random (version 4)
    seen.insert(*guid);
  }
  EXPECT_EQ(seen.size(), 64u);
  EXPECT_FALSE(IsRegistryGuid("6F9619FF8B86D011B42D00C04FC964FF"));
  EXPECT_FALSE(IsRegistryGuid("{6f9619ff-8b86-d011-b42d-00c04fc964ff}"));
  EXPECT_TRUE(IsRegistryGuid("{6F9619FF-8B86-D011-B42D-00C04FC964FF}"));
}

TEST(Identifiers, TheFakeMachineCountsItsGuidsAndDigestsForReal) {
  FakeMachine m;
  Identifiers& ids = m.machine.ids;
  EXPECT_EQ(*ids.NewGuid(), "{00000000-0000-4000-8000-000000000001}");
  m.ids.SetNextGuid("{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
  EXPECT_EQ(*ids.NewGuid(), "{6F9619FF-8B86-D011-B42D-00C04FC964FF}");
  EXPECT_EQ(*ids.NewGuid(), "{00000000-0000-4000-8000-000000000003}");
  m.ids.SetGuidFailure(true);
  EXPECT_FALSE(ids.NewGuid());
  EXPECT_EQ(*ids.Md5Hex("password"), "5f4dcc3b5aa765d61d8327deb882cf99");
}

}  // namespace
}  // namespace kv::platform
