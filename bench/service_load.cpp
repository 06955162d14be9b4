// A bounded load test of korvan-service on loopback: users with 300
// programs each, then check_updates and add_programs from several client
// threads through the client's own requester code (libcurl). Prints p50,
// p99 and throughput per phase; stops by itself.
//   service_load [users=20] [requests per phase=2000] [threads=4] [check|add]
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "korvan_service.h"
#include "platform/http_transport.h"
#include "service/requests.h"
#include "service/zip_archive.h"
#include "store/xml_writer.h"

using namespace kv;
using Clock = std::chrono::steady_clock;

namespace {

std::string Report(int user, int round) {
  store::XmlWriter w;
  w.Open("", "KV");
  w.Open("", "UserSoftware");
  w.Open(" ", "Programs");
  for (int i = 0; i < 300; ++i) {
    // Most programs are shared between users, some are their own.
    const std::string name = i < 250 ? "Program " + std::to_string(i)
                                     : "Tool " + std::to_string(user) + "-" + std::to_string(i);
    w.Open("  ", "Program");
    w.Text("   ", "Name", name);
    w.Text("   ", "Version", "1." + std::to_string(round) + "." + std::to_string(i % 7));
    w.Text("   ", "DisplayName", name + " (x64)");
    w.Text("   ", "Publisher", "Publisher " + std::to_string(i % 40));
    w.Close("  ", "Program");
  }
  w.Close(" ", "Programs");
  w.Open(" ", "WasUninstalled");
  w.Text("  ", "ProgramIdList", "  ");
  w.Close(" ", "WasUninstalled");
  w.Close("", "UserSoftware");
  w.Close("", "KV");
  return w.Take();
}

struct Phase {
  std::vector<double> ms;
  double seconds = 0;
  int failures = 0;
};

void Print(const char* name, Phase& p) {
  std::sort(p.ms.begin(), p.ms.end());
  auto at = [&](double q) { return p.ms.empty() ? 0 : p.ms[static_cast<std::size_t>(q * (p.ms.size() - 1))]; };
  std::printf("%-14s %6zu requests  p50 %7.2f ms  p99 %7.2f ms  %8.0f req/s  failures %d\n", name,
              p.ms.size(), at(0.5), at(0.99), p.ms.size() / p.seconds, p.failures);
}

}  // namespace

int main(int argc, char** argv) {
  const int users = argc > 1 ? std::atoi(argv[1]) : 20;
  const int requests = argc > 2 ? std::atoi(argv[2]) : 2000;
  const int threads = argc > 3 ? std::atoi(argv[3]) : 4;
  const std::string only = argc > 4 ? argv[4] : "";  // "check" or "add": that phase alone
  char tmpl[] = "/tmp/kvloadXXXXXX";
  const std::string dir = mkdtemp(tmpl);

  server::ServeOptions o;
  // KV_BENCH_DB: another database (bench/service_load_postgres.sh gives one).
  const char* database = std::getenv("KV_BENCH_DB");
  o.database = database && *database ? database : dir + "/korvan.db";
  o.port = 0;
  auto service = server::KorvanService::Start(o);
  if (!service) {
    std::fprintf(stderr, "%s\n", service.status().ToString().c_str());
    return 1;
  }
  app::ServiceConfig config;
  config.site = config.upload = {"http", "127.0.0.1", service->port()};

  // Accounts, each with its report.
  auto http = platform::MakeSystemHttpTransport();
  service::ServiceConnection connection(*http, config);
  std::vector<service::ClientIdentity> ids;
  for (int u = 0; u < users; ++u) {
    service::FormPoster form(*http);
    form.AddField("client_build", "17");
    char guid[40];
    std::snprintf(guid, sizeof guid, "%032X", u + 1);
    form.AddField("GUID", guid);
    service::RequestOutcome outcome;
    auto doc = connection.Exchange(service::RequestMode::AddGuest, form, outcome);
    if (!doc) return std::fprintf(stderr, "add_guest: %s\n", outcome.Text().c_str()), 1;
    ids.push_back({doc->Find("KV/User/Id")->Text(), guid, "",
                   doc->Find("KV/User/Password")->Text()});
    if (!connection.SendDocument(service::RequestMode::AddPrograms, ids.back(), "17", Report(u, 0), outcome))
      return std::fprintf(stderr, "add_programs: %s\n", outcome.Text().c_str()), 1;
  }

  // The measured requests: posted, the answer read and unpacked, its result
  // checked by its text. Parsing answers is the client's work, not the service's, and
  // would take the service's share of the two cores here; the setup above
  // went through the client's full exchange and parsing already.
  std::vector<std::string> reports(static_cast<std::size_t>(requests));
  for (int i = 0; i < requests; ++i) {
    const service::ZipEntry entry{"report.xml", Report(i % users, 1 + i / users)};
    reports[static_cast<std::size_t>(i)] = *service::WriteZipArchive(std::span(&entry, 1));
  }
  const app::ServiceEndpoint endpoint = config.site;
  auto run = [&](bool check) {
    Phase phase;
    std::vector<std::vector<double>> ms(threads);
    std::atomic<int> next{0}, failures{0};
    const auto start = Clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
      workers.emplace_back([&, t] {
        auto own = platform::MakeSystemHttpTransport();
        for (int i; (i = next++) < requests;) {
          const auto& me = ids[static_cast<std::size_t>(i) % ids.size()];
          const auto t0 = Clock::now();
          service::FormPoster form(*own);
          service::AddIdentityFields(form, me, "17");
          platform::Status posted;
          if (check) {
            posted = form.PostUrlEncoded(endpoint, service::RequestPath(service::RequestMode::CheckUpdates));
          } else {
            form.AddBorrowedField("zipfile", "report.zip", reports[static_cast<std::size_t>(i)]);
            form.AddField("Submit", "Submit");
            posted = form.PostMultipart(endpoint, service::RequestPath(service::RequestMode::AddPrograms));
          }
          const auto body = posted ? service::ReadAnswer(form) : platform::Result<std::string>(posted);
          ms[t].push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
          // An answer listing 300 programs is tens of kilobytes.
          if (!body || body->find("<Code>OK</Code>") > 200 || body->size() < 4000) {
            if (failures++ == 0) {
              std::fprintf(stderr, "first failure: %s, %zu bytes\n",
                           body ? "answer" : body.status().ToString().c_str(), body ? body->size() : 0);
            }
          }
        }
      });
    }
    for (auto& w : workers) w.join();
    phase.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    for (auto& v : ms) phase.ms.insert(phase.ms.end(), v.begin(), v.end());
    phase.failures = failures;
    return phase;
  };
  std::printf("%d users with 300 programs, %d client threads\n", users, threads);
  Phase check, add;
  if (only != "add") {
    check = run(true);
    Print("check_updates", check);
  }
  if (only != "check") {
    add = run(false);
    Print("add_programs", add);
  }
  service->Stop();
  std::filesystem::remove_all(dir);
  return check.failures + add.failures == 0 ? 0 : 1;
}
