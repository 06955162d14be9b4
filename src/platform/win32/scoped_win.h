#pragma once
// Move-only owners of Win32 handles and COM objects, so every early return
// closes what was opened. Each owner: get(), release() (gives the handle up
// without closing it), reset(), explicit operator bool, moves, no copies.
#include <windows.h>
#include <objbase.h>
#include <wininet.h>

#include <utility>

namespace kv::platform::win32 {

// One owner for every handle type; Traits names the empty value, what
// counts as a handle and how to close it.
template <typename Traits>
class ScopedOwner {
 public:
  using Handle = typename Traits::Handle;

  ScopedOwner() = default;
  explicit ScopedOwner(Handle h) : h_(h) {}
  ~ScopedOwner() { reset(); }
  ScopedOwner(ScopedOwner&& other) noexcept : h_(other.release()) {}
  ScopedOwner& operator=(ScopedOwner&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ScopedOwner(const ScopedOwner&) = delete;
  ScopedOwner& operator=(const ScopedOwner&) = delete;

  Handle get() const { return h_; }
  Handle release() { return std::exchange(h_, Traits::kEmpty); }
  void reset(Handle h = Traits::kEmpty) {
    const Handle old = std::exchange(h_, h);
    if (Traits::Valid(old)) Traits::Close(old);
  }
  // For functions that hand the handle out through a pointer (RegOpenKeyExW).
  Handle* put() {
    reset();
    return &h_;
  }
  explicit operator bool() const { return Traits::Valid(h_); }

 private:
  Handle h_ = Traits::kEmpty;
};

namespace traits {

struct HKey {
  using Handle = HKEY;
  static constexpr Handle kEmpty = nullptr;
  static bool Valid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { RegCloseKey(h); }
};

// CreateFileW fails with INVALID_HANDLE_VALUE, most other calls with null.
struct KernelHandle {
  using Handle = HANDLE;
  static constexpr Handle kEmpty = nullptr;
  static bool Valid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { CloseHandle(h); }
};

struct FindHandle {
  using Handle = HANDLE;
  static constexpr Handle kEmpty = nullptr;
  static bool Valid(Handle h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(Handle h) { FindClose(h); }
};

// Only for icons the caller owns: an LR_SHARED icon must never be destroyed.
struct Icon {
  using Handle = HICON;
  static constexpr Handle kEmpty = nullptr;
  static bool Valid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { DestroyIcon(h); }
};

// Bitmaps and other GDI objects the caller owns (GetIconInfo's bitmaps).
struct GdiObject {
  using Handle = HGDIOBJ;
  static constexpr Handle kEmpty = nullptr;
  static bool Valid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { DeleteObject(h); }
};

// A module loaded as a data file (LoadLibraryEx).
struct Module {
  using Handle = HMODULE;
  static constexpr Handle kEmpty = nullptr;
  static bool Valid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { FreeLibrary(h); }
};

struct InternetHandle {
  using Handle = HINTERNET;
  static constexpr Handle kEmpty = nullptr;
  static bool Valid(Handle h) { return h != nullptr; }
  static void Close(Handle h) { InternetCloseHandle(h); }
};

}  // namespace traits

using ScopedHKey = ScopedOwner<traits::HKey>;
using ScopedHandle = ScopedOwner<traits::KernelHandle>;
using ScopedFindHandle = ScopedOwner<traits::FindHandle>;
using ScopedIcon = ScopedOwner<traits::Icon>;
using ScopedModule = ScopedOwner<traits::Module>;
using ScopedGdiObject = ScopedOwner<traits::GdiObject>;
using ScopedInternetHandle = ScopedOwner<traits::InternetHandle>;

// A COM interface pointer that holds one reference.
template <typename T>
class ComPtr {
 public:
  ComPtr() = default;
  // Takes over a reference the caller already holds.
  explicit ComPtr(T* p) : p_(p) {}
  ~ComPtr() { reset(); }
  ComPtr(ComPtr&& other) noexcept : p_(other.release()) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != &other) reset(other.release());
    return *this;
  }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;

  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T* release() { return std::exchange(p_, nullptr); }
  void reset(T* p = nullptr) {
    if (T* old = std::exchange(p_, p)) old->Release();
  }
  // For CoCreateInstance and QueryInterface; drops the old reference first.
  T** put() {
    reset();
    return &p_;
  }
  void** put_void() { return reinterpret_cast<void**>(put()); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// COM on this thread, apartment-threaded. S_FALSE (already initialised here)
// is a success that still needs its CoUninitialize; a failure needs none.
class ScopedComInit {
 public:
  ScopedComInit() : result_(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)) {
    owns_ = SUCCEEDED(result_);
  }
  ~ScopedComInit() { reset(); }
  ScopedComInit(ScopedComInit&& other) noexcept
      : result_(other.result_), owns_(std::exchange(other.owns_, false)) {}
  ScopedComInit& operator=(ScopedComInit&& other) noexcept {
    if (this != &other) {
      reset();
      result_ = other.result_;
      owns_ = std::exchange(other.owns_, false);
    }
    return *this;
  }
  ScopedComInit(const ScopedComInit&) = delete;
  ScopedComInit& operator=(const ScopedComInit&) = delete;

  // What CoInitializeEx answered.
  HRESULT get() const { return result_; }
  // Leaves COM initialised for good.
  void release() { owns_ = false; }
  void reset() {
    if (std::exchange(owns_, false)) CoUninitialize();
  }
  explicit operator bool() const { return owns_; }

 private:
  HRESULT result_;
  bool owns_ = false;
};

}  // namespace kv::platform::win32
