#include "platform/win32/error_win.h"

#include <string>

namespace kv::platform::win32 {
namespace {

// WinINet's codes (wininet.h), so the HTTP transport translates the same way.
constexpr DWORD kInternetBase = 12000;
constexpr DWORD kInternetLast = 12175;
constexpr DWORD kInternetTimeout = 12002;
constexpr DWORD kInternetNameNotResolved = 12007;
constexpr DWORD kInternetCannotConnect = 12029;
constexpr DWORD kInternetConnectionAborted = 12030;
constexpr DWORD kInternetConnectionReset = 12031;
constexpr DWORD kHttpInvalidServerResponse = 12152;
constexpr DWORD kInternetSecureChannel = 12157;  // the TLS handshake failed
// Wine's WinINet lets the socket's codes through at times (winsock2.h).
constexpr DWORD kWsaConnectionAborted = 10053;
constexpr DWORD kWsaConnectionReset = 10054;
constexpr DWORD kWsaTimedOut = 10060;
constexpr DWORD kWsaConnectionRefused = 10061;
constexpr DWORD kDiskQuotaExceeded = 1295;  // not in every SDK's headers

bool IsCertificateError(DWORD code) {
  switch (code) {
    case 12037:  // ERROR_INTERNET_SEC_CERT_DATE_INVALID
    case 12038:  // ERROR_INTERNET_SEC_CERT_CN_INVALID
    case 12045:  // ERROR_INTERNET_INVALID_CA
    case 12055:  // ERROR_INTERNET_SEC_CERT_ERRORS
    case 12056:  // ERROR_INTERNET_SEC_CERT_NO_REV
    case 12057:  // ERROR_INTERNET_SEC_CERT_REV_FAILED
    case 12169:  // ERROR_INTERNET_SEC_INVALID_CERT
    case 12170:  // ERROR_INTERNET_SEC_CERT_REVOKED
      return true;
    default:
      return false;
  }
}

// What the activity log should say before the object of a network failure;
// null when the kind alone says enough.
const char* NetworkReason(DWORD code) {
  switch (code) {
    case kInternetTimeout:
    case kWsaTimedOut:
      return "no answer from ";
    case kInternetNameNotResolved: return "host not found: ";
    case kInternetCannotConnect:
    case kWsaConnectionRefused:
      return "connection refused: ";
    case kInternetConnectionAborted:
    case kWsaConnectionAborted:
      return "connection aborted: ";
    case kInternetConnectionReset:
    case kWsaConnectionReset:
      return "connection reset: ";
    case kHttpInvalidServerResponse: return "invalid reply from ";
    case kInternetSecureChannel: return "secure connection failed: ";
    default: break;
  }
  if (IsCertificateError(code)) return "certificate not trusted: ";
  return nullptr;
}

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
    case kInternetTimeout:
    case kWsaTimedOut:
      return ErrorKind::Timeout;
    case kWsaConnectionAborted:
    case kWsaConnectionReset:
    case kWsaConnectionRefused:
      return ErrorKind::Network;
    default:
      break;
  }
  if (code >= kInternetBase && code <= kInternetLast) return ErrorKind::Network;
  return ErrorKind::Other;
}

Status ErrorStatus(DWORD code, std::string_view what) {
  if (const char* reason = NetworkReason(code)) {
    return Status::Error(KindOfError(code), std::string(reason) + std::string(what), code);
  }
  return Status::Error(KindOfError(code), std::string(what), code);
}

Status LastErrorStatus(std::string_view what) {
  const DWORD code = GetLastError();
  return ErrorStatus(code, what);
}

}  // namespace kv::platform::win32
