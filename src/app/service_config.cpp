#include "app/service_config.h"

#include "app/settings.h"
#include "text/compare.h"

namespace kv::app {

namespace {

int DefaultPort(std::string_view scheme) { return scheme == "https" ? 443 : 80; }

}  // namespace

std::string ServiceEndpoint::Origin() const {
  std::string out = scheme + "://" + host;
  if (port != DefaultPort(scheme)) out += ":" + std::to_string(port);
  return out;
}

bool ParseEndpoint(std::string_view text, ServiceEndpoint& out) {
  ServiceEndpoint e;
  const std::size_t sep = text.find("://");
  if (sep == std::string_view::npos) return false;
  const std::string_view scheme = text.substr(0, sep);
  if (text::EqualsNoCase(scheme, "http")) {
    e.scheme = "http";
  } else if (text::EqualsNoCase(scheme, "https")) {
    e.scheme = "https";
  } else {
    return false;
  }
  std::string_view rest = text.substr(sep + 3);
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  if (rest.find_first_of("/?# \t") != std::string_view::npos) return false;
  e.port = DefaultPort(e.scheme);
  const std::size_t colon = rest.rfind(':');
  // A colon inside brackets belongs to an IPv6 address, not to a port.
  if (colon != std::string_view::npos && rest.find(']', colon) == std::string_view::npos) {
    const std::string_view digits = rest.substr(colon + 1);
    if (digits.empty() || digits.size() > 5) return false;
    int port = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return false;
      port = port * 10 + (c - '0');
    }
    if (port < 1 || port > 65535) return false;
    e.port = port;
    rest = rest.substr(0, colon);
  }
  if (rest.empty()) return false;
  e.host = std::string(rest);
  out = e;
  return true;
}

ServiceConfig ServiceConfig::Load(platform::Registry& registry) {
  ServiceConfig c;
  auto key = registry.Open(platform::RootKey::CurrentUser, kAppKeyPath);
  if (!key) return c;
  if (auto v = key->ReadString(kSiteUrlValue)) ParseEndpoint(*v, c.site);
  if (auto v = key->ReadString(kUploadUrlValue)) ParseEndpoint(*v, c.upload);
  if (auto v = key->ReadString(kSupportEmailValue); v && !v->empty()) c.support_email = *v;
  return c;
}

}  // namespace kv::app
