// Arbitrary bytes as a PE image and as a raw version block: never a crash,
// never a read outside the input.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "inventory/file_version_info.h"
#include "inventory/version_resource.h"
#include "platform/pe_resources.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes(reinterpret_cast<const char*>(data), size);
  kv::inventory::FileVersionInfo info;
  info.ReadBlock(bytes);
  if (auto block = kv::platform::ExtractVersionResource(bytes)) info.ReadBlock(*block);
  kv::inventory::QueryVersionString(bytes, "\\StringFileInfo\\040904b0\\ProductName");
  kv::inventory::FindStringTableKey(bytes, 0);
  return 0;
}
