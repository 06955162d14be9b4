#pragma once
// Walks a raw VS_VERSIONINFO block (what GetFileVersionInfoW returns) the way
// VerQueryValueW does, so the rules built on it run and are tested natively.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kv::inventory {

// The value bytes of the node at a sub-block path ("\\", "\\VarFileInfo\\Translation",
// "\\StringFileInfo\\040904b0\\ProductName"); key names compare without
// regard to case. Never reads outside `block`.
std::optional<std::string_view> QueryVersionValue(std::string_view block, std::string_view path);

// A string value (UTF-16 in the block) as UTF-8, up to its terminating zero.
std::optional<std::string> QueryVersionString(std::string_view block, std::string_view path);

// Byte offset just past the root node's value (the fixed-information block).
std::size_t RootValueEnd(std::string_view block);

// The table key found by searching the raw block after `from` for the UTF-16
// text "StringFileInfo" and then for the first string of more than seven
// letters and digits; nullopt when there is none.
std::optional<std::string> FindStringTableKey(std::string_view block, std::size_t from);

}  // namespace kv::inventory
