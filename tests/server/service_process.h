#pragma once
// A running `korvan-service serve` on a free loopback port, killed with the
// object. Started at construction; port() waits for it to serve, so two
// constructed one after the other start at once.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

namespace kv::server {

class ServiceProcess {
 public:
  explicit ServiceProcess(const std::string& db) {
    int out[2];
    if (pipe(out) != 0) return;
    // Nothing but system calls between fork and exec: the test runner has threads.
    pid_ = fork();
    if (pid_ == 0) {
      dup2(out[1], 1);
      close(out[0]);
      execl(KV_SERVICE_BINARY, KV_SERVICE_BINARY, "serve", "--db", db.c_str(), "--listen",
            "127.0.0.1:0", "--catalogue", "", "--new-accounts-per-minute", "0",
            static_cast<char*>(nullptr));
      _exit(127);
    }
    close(out[1]);
    output_ = fdopen(out[0], "r");
  }
  ~ServiceProcess() {
    if (pid_ > 0) Kill(SIGKILL);
    if (drain_.joinable()) drain_.join();  // ends with the process's output
    if (output_) fclose(output_);
  }
  ServiceProcess(const ServiceProcess&) = delete;
  ServiceProcess& operator=(const ServiceProcess&) = delete;

  // The port it serves on; 0 when it stopped before serving.
  int port() {
    // "korvan-service: serving http://127.0.0.1:PORT/ from ..."
    char line[1024];
    while (port_ == 0 && output_ && fgets(line, sizeof line, output_)) {
      const std::string text = line;
      const std::size_t at = text.find("serving http://127.0.0.1:");
      if (at != std::string::npos) port_ = std::atoi(text.c_str() + at + 25);
    }
    // The request log goes on; a full pipe would stop the service.
    if (port_ != 0 && output_ && !drain_.joinable()) {
      drain_ = std::thread([f = output_] {
        char sink[4096];
        while (fgets(sink, sizeof sink, f)) {
        }
      });
    }
    return port_;
  }
  // Sends `signal` and waits; the exit status.
  int Kill(int signal) {
    kill(pid_, signal);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = 0;
    return status;
  }

 private:
  pid_t pid_ = 0;
  FILE* output_ = nullptr;
  int port_ = 0;
  std::thread drain_;
};

}  // namespace kv::server
