#pragma once
// The site's pages, served by the front end on GET (and the two forms on
// POST). A request for "<label>.<site host>" is the page of the program
// whose short name is the label, else of the publisher; any other host
// gets the main site by path. Every page reads in one transaction.
#include <cstdint>
#include <functional>
#include <string>

#include "accounts/attempt_limiter.h"
#include "accounts/credentials.h"
#include "http/front_end.h"
#include "protocol/protocol_service.h"
#include "storage/storage.h"

namespace kv::server {

class SitePages {
 public:
  using Clock = std::function<std::int64_t()>;  // seconds since 1970

  SitePages(Storage& storage, Credentials& credentials, const ServiceOptions& options,
            Clock clock = {});
  // Before the front end starts; the pages must outlive it.
  void Register(FrontEnd& front_end);

  struct Page {
    int status = 200;
    std::string html;
  };

 private:
  Page Get(const httplib::Request& req);
  Page ProgramSite(Transaction& tx, const Program& program, const std::string& path);
  Page PublisherSite(Transaction& tx, const std::string& label, const std::string& path);
  Page Home(Transaction& tx);
  Page Search(Transaction& tx, const std::string& text);
  Page UserPage(Transaction& tx, Id id, const std::string& section, const httplib::Request& req);
  Page BugReportPost(const httplib::Request& req, const Form* form);
  Page ReminderPost(const httplib::Request& req, const Form* form);
  bool SignedIn(const User& user, const std::string& login, const std::string& pwd,
                const std::string& peer);
  std::string ProgramUrl(const std::string& short_name) const;

  Storage& storage_;
  Credentials& credentials_;
  std::string scheme_;     // "http"
  std::string site_host_;  // lower case, with its port when it has one
  Clock clock_;
  AttemptLimiter failed_sign_ins_;
  AttemptLimiter form_posts_;  // stored forms per address, so that no one fills the tables
};

}  // namespace kv::server
