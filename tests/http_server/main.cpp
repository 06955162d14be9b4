// kv_test_http_server --port-file FILE [--tls-name HOST]: runs the test HTTP server until
// SIGTERM or SIGINT, for the Wine tests of the WinINet transport. FILE gets
// one line "KV_TEST_HTTP=127.0.0.1:<http>:<silent>:<refused>:<https>",
// written under a temporary name and renamed, so a reader never sees half
// of it; "FILE.pem" gets the https port's self-signed certificate.
#include <signal.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "http_server/http_test_server.h"

namespace {

int Usage() {
  std::fprintf(stderr, "usage: kv_test_http_server --port-file FILE [--tls-name HOST]\n");
  return 2;
}

bool WritePortFile(const std::string& path, const std::string& line) {
  const std::string temp = path + ".tmp";
  FILE* f = std::fopen(temp.c_str(), "w");
  if (f == nullptr) return false;
  const bool written = std::fputs(line.c_str(), f) >= 0;
  if (std::fclose(f) != 0 || !written) return false;
  return std::rename(temp.c_str(), path.c_str()) == 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string port_file, tls_name;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--port-file") == 0 && i + 1 < argc) {
      port_file = argv[++i];
    } else if (std::strcmp(argv[i], "--tls-name") == 0 && i + 1 < argc) {
      tls_name = argv[++i];
    } else {
      return Usage();
    }
  }
  if (port_file.empty()) return Usage();

  // Blocked before any thread starts, so every thread inherits the mask and
  // sigwait below is the one place the signals arrive.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGTERM);
  sigaddset(&stop_signals, SIGINT);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  signal(SIGPIPE, SIG_IGN);  // a client that hangs up mid-reply

  kv::http_test::HttpTestServer server;
  server.set_tls_dns_name(tls_name);
  std::string error;
  if (!server.Start(&error)) {
    std::fprintf(stderr, "kv_test_http_server: %s\n", error.c_str());
    return 1;
  }
  const std::string line = "KV_TEST_HTTP=127.0.0.1:" + std::to_string(server.http_port()) + ":" +
                           std::to_string(server.silent_port()) + ":" +
                           std::to_string(server.refused_port()) + ":" +
                           std::to_string(server.https_port()) + "\n";
  // The https port's certificate first ("<FILE>.pem"): once FILE is there, so is it.
  if (!WritePortFile(port_file + ".pem", server.certificate_pem())) {
    std::fprintf(stderr, "kv_test_http_server: cannot write %s.pem\n", port_file.c_str());
    return 1;
  }
  if (!WritePortFile(port_file, line)) {
    std::fprintf(stderr, "kv_test_http_server: cannot write %s\n", port_file.c_str());
    return 1;
  }
  std::fputs(line.c_str(), stdout);
  std::fflush(stdout);

  int received = 0;
  sigwait(&stop_signals, &received);
  server.Stop();
  return 0;
}
