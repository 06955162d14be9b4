// korvan-service: the reference web service of the Korvan client.
//   serve [--db FILE] [--listen HOST:PORT] [--min-build N] [--update-url URL]
//         [--installer-params TEXT] [--learn N] [--catalogue FILE.csv | --catalogue ""]
//         [--new-accounts-per-minute N] [--tls-cert FILE.pem --tls-key FILE.pem]
//         [--site-origin URL]
//   catalogue set NAME [--publisher P] [--stable V] [--beta V] [--home-page URL] [--db FILE]
//   catalogue import FILE.csv [--db FILE]
//   catalogue list [TEXT] [--db FILE]
//   news add TITLE [--url URL] [--date TEXT] [--db FILE]
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "catalogue/catalogue_admin.h"
#include "http/shutdown_signal.h"
#include "korvan_service.h"
#include "storage/postgres_storage.h"

namespace fs = std::filesystem;
using namespace kv::server;

namespace {

struct Args {
  std::vector<std::string> words;              // the command and its operands
  std::map<std::string, std::string> options;  // "--db" -> value
};

int Fail(const std::string& message) {
  std::cerr << "korvan-service: " << message << "\n";
  return 1;
}

constexpr char kUsage[] =
    "usage: korvan-service serve [--db FILE | --db postgresql://...] [--listen HOST:PORT]\n"
    "                            [--min-build N]\n"
    "                            [--update-url URL] [--installer-params TEXT] [--learn N]\n"
    "                            [--catalogue FILE.csv]  (seeds an empty database; \"\" for none)\n"
    "                            [--new-accounts-per-minute N]  (per address, 60; 0 for no limit)\n"
    "                            [--tls-cert FILE.pem --tls-key FILE.pem]  (HTTPS only)\n"
    "                            [--site-origin URL]  (the site's address, http://localhost:PORT)\n"
    "       korvan-service catalogue set NAME [--publisher P] [--stable V] [--beta V]\n"
    "                                         [--home-page URL]\n"
    "       korvan-service catalogue import FILE.csv | list [TEXT]\n"
    "       korvan-service news add TITLE [--url URL] [--date TEXT]\n"
    "   (every command takes --db FILE or --db postgresql://USER@HOST/NAME;\n"
    "    default $XDG_DATA_HOME/korvan-service/korvan.db)\n";

// A command line that cannot be run: nothing is opened, let alone changed.
int Usage(const std::string& message) {
  std::cerr << "korvan-service: " << message << "\n" << kUsage;
  return 2;
}

// The options each command reads; any other is a mistake, not a no-op.
const std::set<std::string>& OptionsOf(const Args& a) {
  static const std::set<std::string> serve = {"--db", "--listen", "--min-build", "--update-url",
                                              "--installer-params", "--learn", "--catalogue",
                                              "--new-accounts-per-minute", "--tls-cert", "--tls-key",
                                              "--site-origin"};
  static const std::set<std::string> set = {"--db", "--publisher", "--stable", "--beta",
                                            "--home-page"};
  static const std::set<std::string> db_only = {"--db"};
  static const std::set<std::string> news = {"--db", "--url", "--date"};
  static const std::set<std::string> none;
  const std::string command = a.words.empty() ? "" : a.words[0];
  const std::string verb = a.words.size() > 1 ? a.words[1] : "";
  if (command == "serve") return serve;
  if (command == "catalogue") return verb == "set" ? set : db_only;
  if (command == "news") return news;
  return none;
}

// A whole decimal number within [low, high], or nothing.
std::optional<int> Number(std::string_view text, int low, int high) {
  int value = 0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (ec != std::errc() || end != text.data() + text.size() || value < low || value > high)
    return std::nullopt;
  return value;
}

// The default database: $XDG_DATA_HOME/korvan-service/korvan.db.
std::string DefaultDatabase() {
  fs::path base;
  if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && *xdg) base = xdg;
  else if (const char* home = std::getenv("HOME"); home && *home) base = fs::path(home) / ".local/share";
  else base = ".";
  return (base / "korvan-service" / "korvan.db").string();
}

std::string DatabasePath(const Args& a) {
  const auto found = a.options.find("--db");
  return found != a.options.end() ? found->second : DefaultDatabase();
}

// The database's path, its folder made when missing (a SQLite file).
std::string Database(const Args& a) {
  const std::string path = DatabasePath(a);
  if (IsPostgresAddress(path)) return path;
  std::error_code ec;
  const fs::path folder = fs::path(path).parent_path();
  if (!folder.empty()) fs::create_directories(folder, ec);
  return path;
}

std::string Option(const Args& a, const std::string& name, const std::string& fallback = "") {
  const auto found = a.options.find(name);
  return found != a.options.end() ? found->second : fallback;
}

int Serve(const Args& a) {
  if (a.words.size() != 1) return Usage("serve takes no operands");
  ServeOptions o;
  // A typo must not quietly serve on another port or with other rules.
  const std::string listen = Option(a, "--listen", "127.0.0.1:8080");
  const std::size_t colon = listen.rfind(':');
  const auto port = colon == std::string::npos ? std::nullopt : Number(listen.substr(colon + 1), 0, 65535);
  if (!port || colon == 0) return Usage("--listen wants HOST:PORT");
  o.host = listen.substr(0, colon);
  o.port = *port;
  const auto min_build = Number(Option(a, "--min-build", "0"), 0, 1 << 30);
  if (!min_build) return Usage("--min-build wants a build number");
  o.service.min_build = *min_build;
  o.service.update_url = Option(a, "--update-url");
  o.service.installer_params = Option(a, "--installer-params");
  const auto learn = Number(Option(a, "--learn", "2"), 1, 1 << 30);
  if (!learn) return Usage("--learn wants a number of machines, 1 or more");
  o.service.learn_threshold = *learn;
  const auto guests = Number(Option(a, "--new-accounts-per-minute", "60"), 0, 1 << 30);
  if (!guests) return Usage("--new-accounts-per-minute wants a number, 0 for no limit");
  o.service.new_accounts_per_minute = *guests;
  o.tls_cert = Option(a, "--tls-cert");
  o.tls_key = Option(a, "--tls-key");
  if (o.tls_cert.empty() != o.tls_key.empty()) return Usage("--tls-cert and --tls-key go together");
  const std::string scheme = o.tls_cert.empty() ? "http" : "https";
  const std::string origin = Option(a, "--site-origin");
  if (!origin.empty() && !origin.starts_with("http://") && !origin.starts_with("https://")) {
    return Usage("--site-origin wants an http:// or https:// address");
  }
  o.database = Database(a);
  o.service.site_origin = scheme + "://" + (o.host == "127.0.0.1" ? std::string("localhost") : o.host) +
                          ":" + std::to_string(o.port);
  // Program pages live on subdomains of its host, which the listening address may not name.
  if (!origin.empty()) {
    o.service.site_origin = origin;
    while (o.service.site_origin.ends_with("/")) o.service.site_origin.pop_back();
  }
  o.starting_catalogue = Option(a, "--catalogue", std::string(KV_SERVER_DATA_DIR) + "/catalogue.csv");
  static std::mutex log_mutex;
  o.log = [](std::string_view line) {
    std::lock_guard lock(log_mutex);
    std::cout << line << std::endl;
  };
  auto signal = ShutdownSignal::Install();
  if (!signal) return Fail(signal.status().ToString());
  auto service = KorvanService::Start(o);
  if (!service) return Fail(service.status().ToString());
  std::cout << "korvan-service: serving " << scheme << "://" << o.host << ":" << service->port() << "/ from "
            << DatabaseForDisplay(o.database) << std::endl;
  const auto got = signal->Wait();
  std::cout << "korvan-service: signal " << got.value_or(0) << ", stopping" << std::endl;
  service->Stop();
  std::cout << "korvan-service: stopped" << std::endl;
  return 0;
}

// Runs `work` in one write transaction of the database.
template <typename Work>
int WithDatabase(const Args& a, Work work) {
  auto storage = OpenStorage(Database(a));
  if (!storage) return Fail(storage.status().ToString());
  auto tx = storage->Begin(true);
  if (!tx) return Fail(tx.status().ToString());
  if (int rc = work(*tx); rc != 0) return rc;
  if (auto s = tx->Commit(); !s) return Fail(s.ToString());
  return 0;
}

int Catalogue(const Args& a) {
  const std::string verb = a.words.size() > 1 ? a.words[1] : "";
  const std::int64_t now = std::time(nullptr);
  if (verb == "set" && a.words.size() == 3) {
    // The same checks as a catalogue file's row: the service hands these
    // versions to every client.
    const CatalogueRow row{a.words[2], Option(a, "--publisher"), Option(a, "--stable"),
                           Option(a, "--beta"), Option(a, "--home-page")};
    if (std::string problem = CatalogueRowProblem(row); !problem.empty()) return Usage(problem);
    return WithDatabase(a, [&](Transaction& tx) {
      const std::string& name = row.name;
      const std::string& publisher = row.publisher;
      std::vector<Program> found = FindByName(tx, name, publisher);
      if (found.size() > 1) return Fail("several programs are named \"" + name + "\"; add --publisher");
      Program p;
      if (found.empty()) {
        ReportedProgram r;
        r.display_name = name;
        r.publisher = publisher;
        auto added = FindOrAddProgram(tx, r, now);
        if (!added) return Fail(added.status().ToString());
        p = *added;
      } else {
        p = found.front();
      }
      if (a.options.count("--stable")) p.stable_version = Option(a, "--stable");
      if (a.options.count("--beta")) p.beta_version = Option(a, "--beta");
      if (a.options.count("--home-page")) p.home_page = Option(a, "--home-page");
      if (auto s = tx.UpdateProgram(p); !s) return Fail(s.ToString());
      std::cout << p.id << "\t" << p.name << "\tstable " << p.stable_version << "\tbeta "
                << p.beta_version << "\n";
      return 0;
    });
  }
  if (verb == "import" && a.words.size() == 3) {
    auto rows = ReadCatalogueCsvFile(a.words[2]);
    if (!rows) return Fail(rows.status().ToString());
    return WithDatabase(a, [&](Transaction& tx) {
      auto counts = ImportCatalogue(tx, *rows, now);
      if (!counts) return Fail(counts.status().ToString());
      std::cout << counts->added << " added, " << counts->updated << " updated\n";
      return 0;
    });
  }
  if (verb == "list" && a.words.size() <= 3) {
    // Listing reads: a mistyped --db must not leave an empty database behind.
    const std::string path = DatabasePath(a);
    if (!IsPostgresAddress(path) && !fs::exists(path)) return Fail("no database at " + path);
    auto storage = OpenStorage(path);
    if (!storage) return Fail(storage.status().ToString());
    auto tx = storage->Begin(false);
    if (!tx) return Fail(tx.status().ToString());
    for (const Program& p : tx->ListPrograms(a.words.size() == 3 ? a.words[2] : "", 100000)) {
      std::cout << p.id << "\t" << p.name << "\t" << p.publisher << "\t" << p.stable_version
                << "\t" << p.beta_version << "\n";
    }
    if (Status s = tx->status(); !s) return Fail(s.ToString());
    return 0;
  }
  return Usage("catalogue wants set NAME, import FILE.csv or list [TEXT]");
}

int News(const Args& a) {
  if (a.words.size() != 3 || a.words[1] != "add") return Usage("news wants add TITLE");
  if (a.words[2].find_first_not_of(" \t") == std::string::npos) return Usage("the title is empty");
  // Clients open it in a browser.
  if (a.options.count("--url") && !IsWebAddress(Option(a, "--url")))
    return Usage("--url wants an http or https address");
  return WithDatabase(a, [&](Transaction& tx) {
    char date[16];
    const std::time_t now = std::time(nullptr);
    std::strftime(date, sizeof date, "%d.%m.%Y", std::gmtime(&now));
    auto id = tx.AddNews({0, Option(a, "--date", date), a.words[2], Option(a, "--url"), now});
    if (!id) return Fail(id.status().ToString());
    std::cout << "news " << *id << "\n";
    return 0;
  });
}

}  // namespace

int main(int argc, char** argv) {
  Args a;
  for (int i = 1; i < argc; ++i) {
    const std::string word = argv[i];
    if (word.rfind("--", 0) == 0) {
      if (i + 1 >= argc) return Usage("option " + word + " wants a value");
      a.options[word] = argv[++i];
    } else {
      a.words.push_back(word);
    }
  }
  const std::string command = a.words.empty() ? "" : a.words[0];
  if ((command.empty() && a.options.empty()) || command == "help") {
    std::cout << kUsage;
    return 0;
  }
  if (command.empty()) return Usage("no command");
  if (command != "serve" && command != "catalogue" && command != "news")
    return Usage("unknown command \"" + command + "\"");
  for (const auto& [name, value] : a.options) {
    if (!OptionsOf(a).count(name)) return Usage("unknown option " + name + " for " + command);
  }
  // SQLite takes "" for a throw-away database: the change would vanish.
  if (a.options.count("--db") && a.options.at("--db").empty()) return Usage("--db wants a file");
  if (command == "serve") return Serve(a);
  if (command == "catalogue") return Catalogue(a);
  return News(a);
}
