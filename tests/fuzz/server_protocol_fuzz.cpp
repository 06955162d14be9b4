// The protocol handler on arbitrary requests from a known guest: nothing
// may crash, and every answer must be one the client can read (an archive
// holding one valid UTF-8 document with a known Result code), never a
// storage failure, and with page names that are host labels.
//
// The first byte picks the mode (byte % 10) and how the rest is sent
// (byte / 10 % 3): as the document inside a well-formed archive, as the
// archive's bytes themselves, or as "name=value" lines that add to or
// replace the guest's identity fields. The database lives for the whole
// run, so requests build on what earlier ones stored.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "protocol/protocol_service.h"
#include "service/zip_archive.h"
#include "storage/sqlite_storage.h"
#include "store/xml_store.h"
#include "text/utf8.h"

using namespace kv::server;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

constexpr std::string_view kModes[] = {"get_id",        "add_guest",      "add_user",
                                       "add_programs",  "check_updates",  "upload_icons",
                                       "add_comment",   "rate_program",   "add_extensions",
                                       "add_usagelog"};

// The form as the HTTP front end hands it over: a file part and a plain
// value of one name are the same thing.
class Fields final : public RequestFields {
 public:
  std::optional<std::string_view> Field(std::string_view name) const override {
    const auto found = values.find(std::string(name));
    if (found == values.end()) return std::nullopt;
    return std::string_view(found->second);
  }
  std::optional<std::string_view> File(std::string_view name) const override { return Field(name); }
  std::map<std::string, std::string> values;
};

std::string Zip(std::string name, std::string data) {
  const kv::service::ZipEntry entry{std::move(name), std::move(data)};
  return *kv::service::WriteZipArchive(std::span(&entry, 1));
}

std::optional<std::string> FieldOf(const kv::store::XmlDocument& doc, std::string_view path) {
  const auto e = doc.Find(path);
  if (!e) return std::nullopt;
  return e->Text();
}

bool IsHostLabel(std::string_view s) {
  if (s.empty() || s.size() > 63 || s.front() == '-' || s.back() == '-') return false;
  for (const char c : s)
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-')) return false;
  return true;
}

// The answer read as the client reads it; aborts when it cannot be.
kv::store::XmlDocument Read(const std::string& body) {
  Check(!body.empty());
  auto entries = kv::service::ReadZipArchive(body);
  Check(entries.ok() && entries->size() == 1 && (*entries)[0].name == "report.xml");
  const std::string& text = (*entries)[0].data;
  Check(kv::text::IsValidUtf8(text));
  auto doc = kv::store::XmlDocument::Parse(text);
  Check(doc.has_value());
  return std::move(*doc);
}

struct World {
  std::filesystem::path dir;
  std::unique_ptr<Storage> storage;
  std::unique_ptr<Credentials> credentials;
  std::unique_ptr<ProtocolService> service;
  std::map<std::string, std::string> identity;
};

World& TheWorld() {
  static World* world = [] {
    auto* w = new World;
    char tmpl[] = "/tmp/kvprotofuzzXXXXXX";
    Check(mkdtemp(tmpl) != nullptr);
    w->dir = tmpl;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(TheWorld().dir, ec);
    });
    auto storage = OpenSqliteStorage((w->dir / "korvan.db").string());
    Check(storage.ok());
    w->storage = std::move(storage).value();
    w->credentials = std::make_unique<Credentials>(CredentialCost::Cheapest());
    ServiceOptions options;
    options.min_build = 10;  // "client_build" below it is told to update
    options.learn_threshold = 1;
    // The clock stands still: limits per minute would end the run's reach.
    options.failed_sign_ins_per_minute = 0;
    options.new_accounts_per_minute = 0;
    w->service = std::make_unique<ProtocolService>(*w->storage, *w->credentials, options,
                                                   [] { return std::int64_t(1700000000); });
    Fields guest;
    guest.values = {{"GUID", "F022F022F022F022F022F022F022F022"}, {"client_build", "17"}};
    const auto answer = Read(w->service->Handle("add_guest", guest));
    const auto id = FieldOf(answer, "KV/User/Id");
    const auto password = FieldOf(answer, "KV/User/Password");
    Check(id && password);
    w->identity = {{"id", *id}, {"password", *password}, {"GUID", "F022F022F022F022F022F022F022F022"},
                   {"client_build", "17"}};
    // A few programs, so comments, ratings and icons have something to name.
    Fields report;
    report.values = w->identity;
    report.values["zipfile"] = Zip(
        "report.xml",
        "<KV><UserSoftware><Programs>"
        "<Program><Name>Foo</Name><Version>1.0</Version><Publisher>Acme</Publisher></Program>"
        "<Program><DisplayName>Foo 2.1 (x64)</DisplayName><Publisher>Other</Publisher></Program>"
        "<Program><Name>Bar</Name><Version>2.0 beta</Version><BetaRelease>true</BetaRelease></Program>"
        "</Programs></UserSoftware></KV>");
    Check(FieldOf(Read(w->service->Handle("add_programs", report)), "KV/Result/Code") == "OK");
    return w;
  }();
  return *world;
}

// What the rest of the input is, for modes that read one archive entry.
std::string EntryName(std::string_view mode) {
  if (mode == "add_usagelog") return "log.xml";
  if (mode == "upload_icons") return "1.ico";
  return "report.xml";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  World& world = TheWorld();
  const std::string_view mode = kModes[data[0] % 10];
  const std::string rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  Fields fields;
  fields.values = world.identity;
  switch (data[0] / 10 % 3) {
    case 0:
      fields.values["zipfile"] = fields.values["icons"] = Zip(EntryName(mode), rest);
      break;
    case 1:
      fields.values["zipfile"] = fields.values["icons"] = rest;
      break;
    default:
      for (std::size_t start = 0; start < rest.size();) {
        std::size_t end = rest.find('\n', start);
        if (end == std::string::npos) end = rest.size();
        const std::string_view line(rest.data() + start, end - start);
        const std::size_t eq = line.find('=');
        if (eq != std::string_view::npos)
          fields.values[std::string(line.substr(0, eq))] = std::string(line.substr(eq + 1));
        start = end + 1;
      }
      break;
  }

  const auto answer = Read(world.service->Handle(mode, fields));
  const auto code = FieldOf(answer, "KV/Result/Code");
  Check(code.has_value());
  // A storage failure is something the handler let through unchecked.
  Check(*code == "OK" || *code == "LoginFailure" || *code == "ExtendedError" ||
        *code == "OldClientVersion");
  if (const auto programs = answer.Find("KV/Programs")) {
    for (const kv::store::XmlElement p : programs->Children()) {
      const auto label = p.Attribute("U");
      Check(label && IsHostLabel(*label));
    }
  }
  return 0;
}
