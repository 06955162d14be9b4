#include "platform/win32/error_win.h"

#include <string>

namespace kv::platform::win32 {
namespace {

// WinINet's codes (wininet.h), so the HTTP transport translates the same way.
constexpr DWORD kInternetBase = 12000;
constexpr DWORD kInternetLast = 12175;
constexpr DWORD kInternetTimeout = 12002;
constexpr DWORD kInternetSecureBase = 12037;  // certificate and TLS failures
constexpr DWORD kInternetSecureLast = 12057;
constexpr DWORD kDiskQuotaExceeded = 1295;  // not in every SDK's headers

}  // namespace

ErrorKind KindOfError(DWORD code) {
  switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_MOD_NOT_FOUND:
      return ErrorKind::NotFound;
    // A drive or share that is not there now may be back later: not "no file".
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
    case ERROR_NETNAME_DELETED:
    case ERROR_UNEXP_NET_ERR:
      return ErrorKind::Network;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
    case ERROR_PRIVILEGE_NOT_HELD:
      return ErrorKind::AccessDenied;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_USER_MAPPED_FILE:
      return ErrorKind::SharingViolation;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
    case kDiskQuotaExceeded:
      return ErrorKind::DiskFull;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return ErrorKind::AlreadyExists;
    case ERROR_FILE_CORRUPT:
    case ERROR_DISK_CORRUPT:
    case ERROR_CRC:
    case ERROR_BADDB:
    case ERROR_BADKEY:
      return ErrorKind::Corrupt;
    case ERROR_SEM_TIMEOUT:
    case WAIT_TIMEOUT:
      return ErrorKind::Timeout;
    default:
      break;
  }
  if (code == kInternetTimeout) return ErrorKind::Timeout;
  if (code >= kInternetSecureBase && code <= kInternetSecureLast) return ErrorKind::Network;
  if (code >= kInternetBase && code <= kInternetLast) return ErrorKind::Network;
  return ErrorKind::Other;
}

Status ErrorStatus(DWORD code, std::string_view what) {
  return Status::Error(KindOfError(code), std::string(what), code);
}

Status LastErrorStatus(std::string_view what) {
  const DWORD code = GetLastError();
  return ErrorStatus(code, what);
}

}  // namespace kv::platform::win32
