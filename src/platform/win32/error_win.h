#pragma once
// The one place where Win32 error codes become a Status.
#include <windows.h>

#include <string_view>

#include "platform/status.h"

namespace kv::platform::win32 {

// The kind of a Win32 (or WinINet) error code.
ErrorKind KindOfError(DWORD code);

// A failure for `code`; `what` names the object (a path, a key, host:port).
// Network failures say why first: "connection refused: host:port".
Status ErrorStatus(DWORD code, std::string_view what);

// A failure for GetLastError(), read first thing.
Status LastErrorStatus(std::string_view what);

}  // namespace kv::platform::win32
