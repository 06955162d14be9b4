// Arbitrary bytes as a PE image or an .ico file: never a crash, never a read
// outside the input, and every group found writes an .ico file that reads
// back as the same images.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/icon_resources.h"

namespace {
void Check(bool ok) {
  if (!ok) std::abort();
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace kv::platform;
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  const int groups = CountIconGroups(bytes);
  for (int index : {0, 1, groups - 1, -1, -2, -32768}) {
    auto group = ReadIconGroup(bytes, index);
    if (!group) continue;
    Check(!group->images.empty());
    for (int pixels : {16, 48}) Check(ChooseIconImage(group->images, pixels).has_value());
    const std::string ico = BuildIconFile(*group);
    auto back = ReadIconGroup(ico, 0);
    Check(back && back->images.size() == group->images.size());
    for (std::size_t i = 0; i < back->images.size(); ++i) {
      Check(back->images[i].data == group->images[i].data);
      Check(back->images[i].width == group->images[i].width);
      Check(back->images[i].bit_count == group->images[i].bit_count);
    }
  }
  return 0;
}
