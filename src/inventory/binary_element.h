#pragma once
// The "Binary" element of "shtree.xml": the main version-resource strings of
// a shortcut's target, written under the shortcut and read back by the
// tree's loader.
#include "inventory/file_version_info.h"
#include "store/xml_store.h"
#include "store/xml_writer.h"

namespace kv::inventory {

struct ShortcutNode;

// Appends the element for `shortcut` when it has version information, and
// nothing otherwise. The indentation is fixed (three blanks, four for the
// children) at whatever depth the shortcut sits.
void WriteBinary(const ShortcutNode& shortcut, store::XmlWriter& out);

// Reads a "Binary" element into `info` (cleared first). FileName and FileSize
// are not read: they belong to the shortcut node. The fixed product version
// is not stored, so it stays empty; ProductVersion carries the version.
void ReadBinary(const store::XmlElement& binary, FileVersionInfo& info);

}  // namespace kv::inventory
