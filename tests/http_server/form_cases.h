#pragma once
// The forms the real-HTTP tests post with the client's FormPoster, and the
// exact bytes a server must receive for them. Shared by the libcurl
// (native) and WinINet (Wine) tests.
#include <string>

#include "service/form_poster.h"
#include "service/requests.h"

namespace kv::http_test {

// An "add_programs" form: identity fields, a binary file part, Submit.
inline std::string FormArchive() {
  std::string zip;
  for (int i = 0; i < 3000; ++i) zip += static_cast<char>((i * 13) & 0xFF);
  return zip;
}

inline void FillMultipart(service::FormPoster& form) {
  form.AddField("client_build", "17");
  form.AddField("GUID", "6F9619FF8B86D011B42D00C04FC964FF");
  form.AddField("email", "ann+test@example.com");
  form.AddFile("zipfile", "report.zip", FormArchive());
  form.AddField("Submit", "Submit");
}

inline std::string ExpectedMultipart() {
  const std::string b = "--" + std::string(service::kMultipartBoundary);
  auto plain = [&](const char* name, const std::string& value) {
    return b + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" + value + "\r\n";
  };
  return plain("client_build", "17") + plain("GUID", "6F9619FF8B86D011B42D00C04FC964FF") +
         plain("email", "ann+test@example.com") + b +
         "\r\nContent-Disposition: form-data; name=\"zipfile\"; filename=\"report.zip\"\r\n"
         "Content-Type: application/octet-stream\r\n\r\n" +
         FormArchive() + "\r\n" + plain("Submit", "Submit") + b + "--\r\n";
}

inline void FillUrlEncoded(service::FormPoster& form) {
  form.AddField("email", "ann+test@example.com");
  form.AddField("Comment", "C++ & more, na\xC3\xAFve\r\nline 2 *");
}

inline std::string ExpectedUrlEncoded() {
  return "email=ann+test%40example.com&Comment=C++%20%26%20more,%20na%C3%AFve%0D%0Aline%202%20*";
}

// One "check_updates" exchange with the service at `endpoint`; true when
// its answer was accepted.
inline bool CheckUpdatesAt(platform::HttpTransport& http, const app::ServiceEndpoint& endpoint,
                           service::RequestOutcome& outcome) {
  app::ServiceConfig config;
  config.site = config.upload = endpoint;
  service::ServiceConnection connection(http, config);
  service::FormPoster form(http);
  service::AddIdentityFields(form, {"1", "G", "", "p"}, "17");
  outcome.Begin();
  return connection.Exchange(service::RequestMode::CheckUpdates, form, outcome).has_value();
}

}  // namespace kv::http_test
