// Stop requests by signal: caught into a wait, and the previous handling
// back once the helper is gone.
#include "http/shutdown_signal.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <thread>

namespace kv::server {
namespace {

using namespace std::chrono_literals;

std::atomic<int> earlier_calls{0};
extern "C" void Earlier(int) { ++earlier_calls; }

TEST(ShutdownSignal, TurnsSignalsIntoAWaitAndPutsTheOldHandlingBack) {
  earlier_calls = 0;
  struct sigaction earlier {}, saved {};
  earlier.sa_handler = Earlier;
  sigaction(SIGTERM, &earlier, &saved);
  {
    auto helper = ShutdownSignal::Install();
    ASSERT_TRUE(helper) << helper.status().ToString();
    EXPECT_TRUE(ShutdownSignal::Install().status().Is(platform::ErrorKind::AlreadyExists));
    EXPECT_EQ(helper->Wait(20ms), std::nullopt);
    raise(SIGTERM);  // before the wait
    EXPECT_EQ(helper->Wait(1s), SIGTERM);
    std::thread sender([] {
      std::this_thread::sleep_for(50ms);
      kill(getpid(), SIGINT);
    });
    EXPECT_EQ(helper->Wait(10s), SIGINT);  // during it, from elsewhere
    sender.join();
  }
  EXPECT_EQ(earlier_calls, 0);
  raise(SIGTERM);
  EXPECT_EQ(earlier_calls, 1);
  sigaction(SIGTERM, &saved, nullptr);
  EXPECT_TRUE(ShutdownSignal::Install());  // free again
}

}  // namespace
}  // namespace kv::server
