#pragma once
// The HICON behind an icon the Win32 shell extracted, for the UI.
#include <windows.h>

#include "platform/shell.h"

namespace kv::platform::win32 {

// The icon's handle, owned by the icon; nullptr for an icon of another shell.
HICON IconHandle(const Icon& icon);

// The RT_ICON id of the image Windows chose (0 when it did not say, as for
// .ico files).
unsigned IconResourceId(const Icon& icon);

}  // namespace kv::platform::win32
