#pragma once
// Reads the version resource straight out of a PE image (an .exe or .dll),
// so the fake machine and native tools see real executables as Windows does.
#include <optional>
#include <string>
#include <string_view>

namespace kv::platform {

// The bytes of the first RT_VERSION resource (first name, first language),
// or nullopt when the image is not a PE file or has none. Never reads out
// of bounds, whatever the input.
std::optional<std::string> ExtractVersionResource(std::string_view image);

}  // namespace kv::platform
