#pragma once
// Reads resources straight out of a PE image (an .exe or .dll), so the fake
// machine and native tools see real executables as Windows does. Never
// reads out of bounds, whatever the input.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kv::platform {

// One resource of a type, in its first language.
struct PeResource {
  std::optional<std::uint16_t> id;       // nullopt for a named resource
  std::optional<std::string_view> data;  // nullopt when it lies outside the image
};

// Every resource of `type` in the order of the resource directory (linkers
// write named entries first, then ids ascending), as EnumResourceNames
// lists them; empty when the image is not a PE file or has none.
std::vector<PeResource> ListPeResources(std::string_view image, std::uint16_t type);

// The bytes of the first RT_VERSION resource (first name, first language),
// or nullopt when the image is not a PE file or has none.
std::optional<std::string> ExtractVersionResource(std::string_view image);

}  // namespace kv::platform
