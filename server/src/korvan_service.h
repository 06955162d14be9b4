#pragma once
// One running service: the database, the credential checks, the protocol
// and the HTTP front end, put together as `korvan-service serve` runs them
// (and as the tests start it on a free port).
#include <memory>
#include <string>

#include "accounts/credentials.h"
#include "http/front_end.h"
#include "protocol/protocol_service.h"
#include "site/site_pages.h"
#include "storage/storage.h"

namespace kv::server {

struct ServeOptions {
  std::string database;  // a SQLite file or a postgresql:// address
  std::string host = "127.0.0.1";
  int port = 8080;  // 0: any free port
  unsigned threads = 0;
  ServiceOptions service;
  CredentialCost credential_cost;
  // Imported into a database whose catalogue is empty; none when empty.
  std::string starting_catalogue;
  // PEM certificate (chain) and key: HTTPS instead of HTTP.
  std::string tls_cert;
  std::string tls_key;
  LogSink log;
};

class KorvanService {
 public:
  // Opens (and migrates) the database, seeds the catalogue, starts serving.
  static Result<std::unique_ptr<KorvanService>> Start(ServeOptions options);
  ~KorvanService();

  int port() const { return front_end_->port(); }
  Storage& storage() { return *storage_; }
  ProtocolService& protocol() { return *protocol_; }
  // Requests in flight finish; then nothing more is served.
  void Stop();

 private:
  KorvanService() = default;
  std::unique_ptr<Storage> storage_;
  std::unique_ptr<Credentials> credentials_;
  std::unique_ptr<ProtocolService> protocol_;
  std::unique_ptr<SitePages> site_;  // before the front end, which calls it
  std::unique_ptr<FrontEnd> front_end_;
};

// The form of a request as the protocol reads it.
class FormFields final : public RequestFields {
 public:
  explicit FormFields(const Form& form) : form_(form) {}
  std::optional<std::string_view> Field(std::string_view name) const override { return form_.Value(name); }
  std::optional<std::string_view> File(std::string_view name) const override { return form_.Value(name); }

 private:
  const Form& form_;
};

}  // namespace kv::server
