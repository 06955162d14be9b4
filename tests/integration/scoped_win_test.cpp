// The owners of handles and COM objects: moves hand the resource over,
// reset and put() give up what was held, COM init pairs only its own init.
#include <gtest/gtest.h>

#include <thread>

#include "platform/win32/scoped_win.h"
#include "platform/win32/shell_link_win.h"

namespace kv::platform::win32 {
namespace {

TEST(ScopedHKey, MovesLeaveTheSourceEmptyAndResetCloses) {
  ScopedHKey a;
  ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, a.put()), ERROR_SUCCESS);
  const HKEY raw = a.get();
  ScopedHKey b(std::move(a));
  EXPECT_FALSE(a);
  EXPECT_EQ(a.get(), nullptr);
  EXPECT_EQ(b.get(), raw);
  ScopedHKey c;
  c = std::move(b);
  EXPECT_FALSE(b);
  EXPECT_EQ(c.get(), raw);
  EXPECT_EQ(RegQueryInfoKeyW(raw, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS);
  c.reset();
  EXPECT_FALSE(c);
  EXPECT_NE(RegQueryInfoKeyW(raw, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, nullptr, nullptr, nullptr),
            ERROR_SUCCESS)
      << "reset closes the key";
}

TEST(ScopedHandle, InvalidHandleValueCountsAsEmptyAndReleaseKeepsTheHandleOpen) {
  EXPECT_FALSE(ScopedHandle(INVALID_HANDLE_VALUE));
  EXPECT_FALSE(ScopedFindHandle(INVALID_HANDLE_VALUE));
  HANDLE raw = nullptr;
  {
    ScopedHandle event(CreateEventW(nullptr, TRUE, TRUE, nullptr));
    ASSERT_TRUE(event);
    raw = event.release();
    EXPECT_FALSE(event);
  }
  EXPECT_EQ(WaitForSingleObject(raw, 0), WAIT_OBJECT_0) << "released, so still open";
  ScopedHandle again(raw);
  again = ScopedHandle();
  EXPECT_EQ(WaitForSingleObject(raw, 0), WAIT_FAILED) << "assigning over it closed it";
}

TEST(ComPtr, MovesLeaveTheSourceEmptyAndPutDropsTheOldReference) {
  const ScopedComInit com;
  ComPtr<IShellLinkW> a;
  ASSERT_TRUE(SUCCEEDED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER,
                                         IID_IShellLinkW, a.put_void())));
  IShellLinkW* raw = a.get();
  ComPtr<IShellLinkW> b(std::move(a));
  EXPECT_FALSE(a);
  EXPECT_EQ(b.get(), raw);
  ComPtr<IShellLinkW> c;
  c = std::move(b);
  EXPECT_FALSE(b);
  ASSERT_EQ(c.get(), raw);
  // Our extra reference makes two; put() must drop the owner's one.
  EXPECT_EQ(raw->AddRef(), 2u);
  EXPECT_NE(c.put(), nullptr);
  EXPECT_FALSE(c);
  EXPECT_EQ(raw->Release(), 0u) << "put() left a reference behind";
}

TEST(ScopedComInit, PairsOnlyItsOwnSuccessfulInit) {
  std::thread([] {
    // Already initialised on this thread: S_FALSE, which still needs its uninit.
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK);
    {
      ScopedComInit inner;
      EXPECT_EQ(inner.get(), S_FALSE);
      EXPECT_TRUE(inner);
      ScopedComInit moved(std::move(inner));
      EXPECT_FALSE(inner);
      EXPECT_TRUE(moved);
    }
    CoUninitialize();
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED), S_OK) << "count was not paired";
    CoUninitialize();
  }).join();
  std::thread([] {
    // The other apartment model fails the init; the owner must not uninit.
    ASSERT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    {
      ScopedComInit failed;
      EXPECT_EQ(failed.get(), RPC_E_CHANGED_MODE);
      EXPECT_FALSE(failed);
    }
    EXPECT_EQ(CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_FALSE) << "COM was uninitialised";
    CoUninitialize();
    CoUninitialize();
  }).join();
}

}  // namespace
}  // namespace kv::platform::win32
