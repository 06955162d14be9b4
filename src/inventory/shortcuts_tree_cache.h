#pragma once
// "shtree.xml": the shortcuts tree as the previous scan left it, so that an
// unchanged shortcut is never resolved or read again.
#include <string_view>

#include "app/data_folder.h"
#include "inventory/shortcuts_tree.h"
#include "platform/machine.h"

namespace kv::inventory {

inline constexpr std::string_view kShortcutsTreeFile = "shtree.xml";

// Writes the tree below `root` through the ".bak" sequence: folders with
// their last-write times, shortcuts with target, the target's size, the
// link's time, the target's time, the Uninstaller flag and the "Binary" element. Folders holding no shortcut are left out.
platform::Status SaveShortcutsTreeCache(app::DataFolder& folder, const ShortcutNode& root);

// Appends the cached nodes below `root`, all marked unseen, targets split
// without the long-path step. A shortcut missing its target, size or time is
// skipped (its siblings still load); folders deeper than 256 levels are not
// read. Nothing is added when there is no readable file.
void LoadShortcutsTreeCache(app::DataFolder& folder, platform::Machine& machine,
                            ShortcutNode& root);

}  // namespace kv::inventory
