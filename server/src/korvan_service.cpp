#include "korvan_service.h"

#include <ctime>

#include "catalogue/catalogue_admin.h"
#include "storage/postgres_storage.h"

namespace kv::server {

Result<std::unique_ptr<KorvanService>> KorvanService::Start(ServeOptions options) {
  auto service = std::unique_ptr<KorvanService>(new KorvanService);
  auto storage = OpenStorage(options.database);
  if (!storage) return storage.status();
  service->storage_ = std::move(storage).value();

  if (!options.starting_catalogue.empty()) {
    auto tx = service->storage_->Begin(true);
    if (!tx) return tx.status();
    if (tx->Counts().programs == 0) {
      auto rows = ReadCatalogueCsvFile(options.starting_catalogue);
      if (!rows) return rows.status();
      auto counts = ImportCatalogue(*tx, *rows, std::time(nullptr));
      if (!counts) return counts.status();
      if (Status s = tx->Commit(); !s) return s;
      if (options.log) {
        options.log("catalogue: " + std::to_string(counts->added) + " programs from " +
                    options.starting_catalogue);
      }
    }
  }

  service->credentials_ = std::make_unique<Credentials>(options.credential_cost);
  FrontEndOptions fe;
  fe.host = options.host;
  fe.port = options.port;
  fe.threads = options.threads;
  fe.limits = options.service.limits;
  fe.log = options.log;
  fe.tls_cert = options.tls_cert;
  fe.tls_key = options.tls_key;
  KorvanService* self = service.get();
  service->front_end_ = std::make_unique<FrontEnd>(
      fe, [self](const ModeRequest& request, const Status& problem) {
        // An unknown mode still gets the answer for its build (old clients).
        if (problem.Is(platform::ErrorKind::NotFound)) {
          return Reply{200, self->protocol_->Handle(request.mode, FormFields(request.form),
                                                    request.remote_address)};
        }
        return Reply{200, ProtocolService::Malformed(problem.message())};
      });
  // Bound first: a service on a port the system picked names that port in
  // its pages' and users' addresses.
  if (Status s = service->front_end_->Bind(); !s) return s;
  ServiceOptions service_options = options.service;
  if (service_options.site_origin.ends_with(":0")) {
    service_options.site_origin.resize(service_options.site_origin.size() - 1);
    service_options.site_origin += std::to_string(service->front_end_->port());
  }
  service->protocol_ = std::make_unique<ProtocolService>(*service->storage_, *service->credentials_,
                                                         service_options);
  if (Status s = service->protocol_->Prepare(); !s) return s;
  for (const char* mode : {"get_id", "add_guest", "add_user", "add_programs", "check_updates",
                           "upload_icons", "add_comment", "rate_program", "add_extensions",
                           "add_usagelog"}) {
    service->front_end_->AddMode(mode, [self](const ModeRequest& request) {
      return Reply{200, self->protocol_->Handle(request.mode, FormFields(request.form),
                                                request.remote_address)};
    });
  }
  service->site_ = std::make_unique<SitePages>(*service->storage_, *service->credentials_,
                                               service_options);
  service->site_->Register(*service->front_end_);
  if (Status s = service->front_end_->Start(); !s) return s;
  return service;
}

KorvanService::~KorvanService() { Stop(); }

void KorvanService::Stop() {
  if (front_end_) front_end_->Stop();
}

}  // namespace kv::server
