#include <windows.h>
#include <bcrypt.h>
#include <objbase.h>

#include <vector>

#include "platform/identifiers.h"
#include "platform/win32/wide.h"

namespace kv::platform {
namespace {

Status NtFailure(const char* what, LONG status) {
  char code[16];
  wsprintfA(code, "%08lX", static_cast<unsigned long>(status));
  return Status::Error(ErrorKind::Other, std::string(what) + " failed: 0x" + code);
}

class Win32Identifiers final : public Identifiers {
 public:
  Result<std::string> Md5Hex(std::string_view data) override {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    NTSTATUS s = BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_MD5_ALGORITHM, nullptr, 0);
    if (!BCRYPT_SUCCESS(s)) return NtFailure("BCryptOpenAlgorithmProvider(MD5)", s);
    BCRYPT_HASH_HANDLE hash = nullptr;
    unsigned char digest[16];
    s = BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0);
    // Fed in pieces: BCryptHashData takes a 32-bit length.
    for (std::string_view rest = data; BCRYPT_SUCCESS(s) && !rest.empty();) {
      const ULONG n = static_cast<ULONG>(rest.size() < (1u << 30) ? rest.size() : (1u << 30));
      s = BCryptHashData(hash, reinterpret_cast<PUCHAR>(const_cast<char*>(rest.data())), n, 0);
      rest.remove_prefix(n);
    }
    if (BCRYPT_SUCCESS(s)) s = BCryptFinishHash(hash, digest, sizeof digest, 0);
    if (hash) BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!BCRYPT_SUCCESS(s)) return NtFailure("MD5", s);
    return LowerHex({reinterpret_cast<const char*>(digest), sizeof digest});
  }

  Result<std::string> NewGuid() override {
    GUID guid;
    const HRESULT hr = CoCreateGuid(&guid);
    if (FAILED(hr)) return NtFailure("CoCreateGuid", hr);
    wchar_t text[40];
    if (StringFromGUID2(guid, text, 40) != 39) {
      return Status::Error(ErrorKind::Other, "StringFromGUID2 failed");
    }
    return win32::Narrow(text);
  }
};

}  // namespace

Identifiers& SystemIdentifiers() {
  static Win32Identifiers identifiers;
  return identifiers;
}

}  // namespace kv::platform
