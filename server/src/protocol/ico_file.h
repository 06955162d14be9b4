#pragma once
// Whether uploaded bytes look like an icon file: the header, a directory of
// at least one image, every image inside the file and starting as an icon's
// image does (a PNG signature or a 40-byte bitmap header). Icons are shown
// on the site to everyone, so anything else is not stored. The pixels
// themselves are not checked.
#include <string_view>

namespace kv::server {

bool IsIcoFile(std::string_view bytes);

}  // namespace kv::server
