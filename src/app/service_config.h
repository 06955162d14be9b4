#pragma once
// Where the Korvan web service lives: the site host (pages and requests), the
// upload host, and the support address. The defaults point at the local
// reference service; the string values "SiteUrl", "UploadUrl" ("scheme://host[:port]")
// and "SupportEmail" under the application key override them.
#include <string>
#include <string_view>

#include "platform/registry.h"

namespace kv::app {

struct ServiceEndpoint {
  std::string scheme = "http";  // "http" or "https"
  // The local reference service; by name, so that its program pages
  // ("NAME.localhost:8080") resolve to loopback in a browser too.
  std::string host = "localhost";
  int port = 8080;

  bool secure() const { return scheme == "https"; }
  // "http://localhost:8080"; the port is left out when it is the scheme's default.
  std::string Origin() const;
  // Origin() + `path` ("/uninstalled.php?userid=...").
  std::string Url(std::string_view path) const { return Origin() + std::string(path); }
  bool operator==(const ServiceEndpoint&) const = default;
};

// Parses "scheme://host[:port][/]"; false (and `out` untouched) for anything else.
bool ParseEndpoint(std::string_view text, ServiceEndpoint& out);

inline constexpr char kSiteUrlValue[] = "SiteUrl";
inline constexpr char kUploadUrlValue[] = "UploadUrl";
inline constexpr char kSupportEmailValue[] = "SupportEmail";
inline constexpr char kDefaultSupportEmail[] = "support@korvan.example";

struct ServiceConfig {
  ServiceEndpoint site;
  ServiceEndpoint upload;
  std::string support_email = kDefaultSupportEmail;

  // The defaults with every valid override from the application key applied.
  static ServiceConfig Load(platform::Registry& registry);
};

}  // namespace kv::app
