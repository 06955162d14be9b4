// The service's form parsers on arbitrary bytes: nothing may crash, a form
// that parses keeps the limits, and writing it again as the client would
// gives the same form back. The first byte picks the parser; for multipart
// the content type runs to the first line feed and the body follows it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "http/form.h"
#include "service/form_poster.h"

using namespace kv::server;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

RequestLimits SmallLimits() {
  RequestLimits limits;
  limits.max_body = 1u << 16;
  limits.max_fields = 16;
  limits.max_field = 512;
  return limits;
}

void CheckLimits(const Form& form, const RequestLimits& limits) {
  Check(form.size() <= limits.max_fields);
  for (const FormField& f : form.fields()) {
    Check(f.name.size() <= limits.max_field);
    Check(!f.filename.empty() || f.content.size() <= limits.max_field);
    Check(form.Has(f.name));
  }
}

void UrlEncoded(std::string_view body, const RequestLimits& limits) {
  const auto form = ParseUrlEncoded(body, limits);
  if (!form) return;
  CheckLimits(*form, limits);
  std::string again;
  for (const FormField& f : form->fields()) {
    if (!again.empty()) again += '&';
    again += kv::service::UrlEscape(f.name) + "=" + kv::service::UrlEscape(f.content);
  }
  const auto reparsed = ParseUrlEncoded(again, RequestLimits{});
  Check(reparsed.ok() && reparsed->fields() == form->fields());
}

void Multipart(std::string_view type, std::string_view body, const RequestLimits& limits) {
  const auto form = ParseMultipart(type, body, limits);
  if (!form) return;
  CheckLimits(*form, limits);
  // Written again with the client's boundary, unless a value holds it or
  // a name cannot be quoted.
  const std::string delimiter = "\r\n--" + std::string(kv::service::kMultipartBoundary);
  std::string again;
  for (const FormField& f : form->fields()) {
    if (f.name.find_first_of("\"\r\n") != std::string::npos ||
        f.filename.find_first_of("\"\r\n") != std::string::npos ||
        ("\r\n" + f.content).find(delimiter) != std::string::npos) {
      return;
    }
    again += delimiter.substr(2) + "\r\nContent-Disposition: form-data; name=\"" + f.name + "\"";
    if (!f.filename.empty()) again += "; filename=\"" + f.filename + "\"";
    again += "\r\n\r\n" + f.content + "\r\n";
  }
  again += delimiter.substr(2) + "--\r\n";
  const auto reparsed = ParseMultipart(
      "multipart/form-data; boundary=" + std::string(kv::service::kMultipartBoundary), again,
      RequestLimits{});
  Check(reparsed.ok() && reparsed->fields() == form->fields());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  const RequestLimits limits = SmallLimits();
  if (data[0] & 1) {
    const std::size_t cut = input.find('\n');
    if (cut == std::string_view::npos) return 0;
    Multipart(input.substr(0, cut), input.substr(cut + 1), limits);
  } else {
    UrlEncoded(input, limits);
  }
  return 0;
}
