#include "http/shutdown_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <iterator>
#include <mutex>
#include <string>

namespace kv::server {
namespace {

using platform::ErrorKind;
using platform::Status;

constexpr int kSignals[] = {SIGTERM, SIGINT};

// The pipe's write end for the handler; -1 when no helper is installed.
std::atomic<int> write_end{-1};
int read_end = -1;
std::mutex install_mutex;  // Install against a destructor on another thread
struct sigaction previous[std::size(kSignals)];

extern "C" void OnSignal(int number) {
  const int saved = errno;
  const int fd = write_end.load();
  if (fd >= 0) {
    const unsigned char byte = static_cast<unsigned char>(number);
    // A full pipe already holds a signal to wake the waiter.
    [[maybe_unused]] const ssize_t written = write(fd, &byte, 1);
  }
  errno = saved;
}

}  // namespace

platform::Result<std::unique_ptr<ShutdownSignal>> ShutdownSignal::Install() {
  std::lock_guard lock(install_mutex);
  if (write_end.load() >= 0) {
    return Status::Error(ErrorKind::AlreadyExists, "signals are already caught in this process");
  }
  int fds[2];
  if (pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) {
    return Status::Error(ErrorKind::Other, std::string("pipe: ") + std::strerror(errno),
                         static_cast<std::uint32_t>(errno));
  }
  read_end = fds[0];
  write_end.store(fds[1]);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  // Interrupted system calls resume: the rest of the program is not told.
  action.sa_flags = SA_RESTART;
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &action, &previous[i]);
  return std::unique_ptr<ShutdownSignal>(new ShutdownSignal());
}

ShutdownSignal::~ShutdownSignal() {
  std::lock_guard lock(install_mutex);
  for (std::size_t i = 0; i < std::size(kSignals); ++i) sigaction(kSignals[i], &previous[i], nullptr);
  const int fd = write_end.exchange(-1);
  close(fd);
  close(read_end);
  read_end = -1;
}

std::optional<int> ShutdownSignal::Wait(std::chrono::milliseconds timeout) {
  using Clock = std::chrono::steady_clock;
  const bool forever = timeout == std::chrono::milliseconds::max();
  const Clock::time_point deadline = forever ? Clock::time_point::max() : Clock::now() + timeout;
  for (;;) {
    unsigned char byte = 0;
    if (read(read_end, &byte, 1) == 1) return byte;
    int wait_ms = -1;
    if (!forever) {
      const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
      if (left.count() <= 0) return std::nullopt;
      wait_ms = static_cast<int>(std::min<long long>(left.count(), 1 << 30));
    }
    pollfd fd{read_end, POLLIN, 0};
    if (poll(&fd, 1, wait_ms) < 0 && errno != EINTR) return std::nullopt;
  }
}

}  // namespace kv::server
