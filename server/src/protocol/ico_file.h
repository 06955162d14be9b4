#pragma once
// Whether uploaded bytes are an icon file: the header, a directory of at
// least one image, and every image inside the file. Icons are shown on the
// site to everyone, so anything else is not stored.
#include <string_view>

namespace kv::server {

bool IsIcoFile(std::string_view bytes);

}  // namespace kv::server
