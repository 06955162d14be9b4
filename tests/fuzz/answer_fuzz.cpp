// Service answers on arbitrary bytes: the body goes through the whole path
// a request takes (read in pieces, unzipped with the limits, parsed, its
// Result read). Nothing may crash or run away; a success must carry an
// answer that a second reading agrees with. Half the inputs are wrapped in
// a valid archive first, so the fuzzer reaches the XML side too.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/fake/fake_http.h"
#include "service/requests.h"
#include "service/zip_archive.h"

using namespace kv::service;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::string body(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (data[0] & 1) {
    // The rest is the document; the archive around it is well formed.
    const ZipEntry entry{(data[0] & 2) ? "REPORT.XML" : "report.xml", body};
    body = *WriteZipArchive(std::span(&entry, 1));
  }
  kv::platform::FakeHttpTransport http(
      [&](const auto&) { return kv::platform::FakeHttpReply::Ok(body); });
  http.SetReadPieceLimit(1 + data[0] % 97);

  ServiceConnection service(http, kv::app::ServiceConfig{});
  FormPoster form(http);
  AddIdentityFields(form, {"1", "G", "", "p"}, "17");
  RequestOutcome outcome;
  outcome.Begin();
  auto doc = service.Exchange(RequestMode::CheckUpdates, form, outcome);

  Check(outcome.kind() != OutcomeKind::NetworkFailure);  // the fake never fails
  Check(doc.has_value() == outcome.succeeded());
  Check(!outcome.Text().empty() || outcome.code() == AnswerCode::LoginFailure ||
        outcome.code() == AnswerCode::ExtendedError ||
        outcome.code() == AnswerCode::OldClientVersion);
  if (doc) {
    // The same answer read again gives the same verdict.
    auto entries = ReadZipArchive(body);
    Check(entries.ok());
    RequestOutcome again;
    again.SetInvalidAnswer();
    auto kv = doc->Find("KV");
    Check(kv.has_value() && again.ReadResult(*kv));
  }
  return 0;
}
