#pragma once
// The options of the commands that talk to the service: --site URL (both
// hosts, for one run) and --ca FILE (natively, the certificate authorities
// libcurl trusts instead of the system's; Windows trusts its own store).
#include <cstdio>
#include <memory>
#include <string>

#include "app/service_config.h"
#include "platform/http_transport.h"
#include "tools/kvdiag/commands.h"

namespace kv::diag {

struct ServiceOptions {
  std::string site;
  std::string ca_file;

  // Takes args[i] (and its value) when it is one of these options.
  bool Take(const Args& args, std::size_t& i) {
    if (i + 1 >= args.size()) return false;
    if (args[i] == "--site") site = args[++i];
    else if (args[i] == "--ca") ca_file = args[++i];
    else return false;
    return true;
  }

  // Applies --site to `config`; false, with a message, when it does not parse
  // or --ca is given where it cannot apply.
  bool Apply(app::ServiceConfig& config) const {
    if (!site.empty()) {
      if (!app::ParseEndpoint(site, config.site)) {
        std::fprintf(stderr, "kvdiag: --site wants scheme://host[:port], not %s\n", site.c_str());
        return false;
      }
      config.upload = config.site;
    }
#ifdef _WIN32
    if (!ca_file.empty()) {
      std::fprintf(stderr, "kvdiag: --ca is for libcurl; on Windows add the authority to the "
                           "user's \"Trusted Root Certification Authorities\"\n");
      return false;
    }
#endif
    return true;
  }

  std::unique_ptr<platform::HttpTransport> Transport() const {
    platform::HttpOptions options;
    options.ca_file = ca_file;
    return platform::MakeSystemHttpTransport(options);
  }
};

}  // namespace kv::diag
