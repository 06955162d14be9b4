#include "service/requests.h"

#include <array>
#include <stdexcept>

#include "service/zip_archive.h"
#include "text/compare.h"

namespace kv::service {
namespace {

using platform::ErrorKind;
using platform::Status;

constexpr std::array<RequestShape, 10> kRequests = {{
    {RequestMode::GetId, "get_id", ServiceHost::Site, FormEncoding::UrlEncoded, "", "", ""},
    {RequestMode::AddGuest, "add_guest", ServiceHost::Site, FormEncoding::UrlEncoded, "", "", ""},
    {RequestMode::AddUser, "add_user", ServiceHost::Site, FormEncoding::UrlEncoded, "", "", ""},
    {RequestMode::AddPrograms, "add_programs", ServiceHost::Site, FormEncoding::Multipart,
     "zipfile", "report.zip", "report.xml"},
    {RequestMode::CheckUpdates, "check_updates", ServiceHost::Site, FormEncoding::UrlEncoded, "",
     "", ""},
    {RequestMode::UploadIcons, "upload_icons", ServiceHost::Upload, FormEncoding::Multipart,
     "icons", "icons.zip", ""},
    {RequestMode::AddComment, "add_comment", ServiceHost::Site, FormEncoding::UrlEncoded, "", "",
     ""},
    {RequestMode::RateProgram, "rate_program", ServiceHost::Site, FormEncoding::UrlEncoded, "",
     "", ""},
    {RequestMode::AddExtensions, "add_extensions", ServiceHost::Site, FormEncoding::Multipart,
     "zipfile", "report.zip", "report.xml"},
    {RequestMode::AddUsageLog, "add_usagelog", ServiceHost::Upload, FormEncoding::Multipart,
     "zipfile", "log.zip", "log.xml"},
}};

}  // namespace

const RequestShape& ShapeOf(RequestMode mode) {
  for (const RequestShape& shape : kRequests) {
    if (shape.mode == mode) return shape;
  }
  throw std::logic_error("request mode missing from the table");
}

std::string RequestPath(RequestMode mode) {
  return "/kv.php?mode=" + std::string(ShapeOf(mode).name);
}

std::string ClientBuildOf(const inventory::FileVersionInfo& own) {
  const auto& parts = own.FixedProductVersion.components;
  if (parts.size() < 3) return "???";
  return std::to_string(parts[2].value);
}

const std::string& OwnClientBuild(platform::Shell& shell) {
  static const std::string build = ClientBuildOf(inventory::OwnFileVersionInfo(shell));
  return build;
}

void AddIdentityFields(FormPoster& form, const ClientIdentity& identity,
                       std::string_view client_build) {
  form.AddField("client_build", client_build);
  if (!identity.id.empty()) form.AddField("id", identity.id);
  form.AddField("GUID", identity.guid);
  form.AddField("email", identity.email.empty() ? identity.id : identity.email);
  form.AddField("password", identity.password);
}

platform::Result<std::string> ReadAnswer(FormPoster& form) {
  std::string body;
  std::string piece(kAnswerPieceSize, '\0');
  for (;;) {
    auto n = form.ReadBody(piece.data(), piece.size());
    if (!n) return n.status();
    if (*n == 0) break;
    if (body.size() + *n > kMaxAnswerBytes) {
      return Status::Error(ErrorKind::Corrupt, "answer longer than " +
                                                   std::to_string(kMaxAnswerBytes) + " bytes");
    }
    body.append(piece.data(), *n);
  }
  auto entries = ReadZipArchive(body, ZipLimits{}, [](std::string_view name) {
    return text::EqualsNoCase(name, kAnswerEntry);
  });
  if (!entries) return entries.status();
  // Entries land in one folder under their bare names: a later one of the
  // same name replaces an earlier one.
  if (entries->empty()) {
    return Status::Error(ErrorKind::Corrupt, "answer without " + std::string(kAnswerEntry));
  }
  return std::move(entries->back().data);
}

std::optional<store::XmlDocument> LoadAnswerDocument(std::string_view text) {
  return store::XmlDocument::Parse(text);
}

std::optional<store::XmlDocument> ServiceConnection::Exchange(RequestMode mode, FormPoster& form,
                                                              RequestOutcome& outcome) {
  const RequestShape& shape = ShapeOf(mode);
  const app::ServiceEndpoint& host = EndpointOf(shape.host);
  const std::string path = RequestPath(mode);
  const Status posted = shape.encoding == FormEncoding::Multipart ? form.PostMultipart(host, path)
                                                                 : form.PostUrlEncoded(host, path);
  if (!posted) {
    // A reply the transport refused to hold is a broken answer, not a network fault.
    if (posted.Is(ErrorKind::Corrupt)) outcome.SetInvalidAnswer();
    else outcome.SetNetworkFailure(posted);
    return std::nullopt;
  }
  auto text = ReadAnswer(form);
  if (!text && !text.status().Is(ErrorKind::Corrupt)) {
    outcome.SetNetworkFailure(text.status());
    return std::nullopt;
  }
  outcome.SetInvalidAnswer();
  if (!text) return std::nullopt;
  std::optional<store::XmlDocument> doc = LoadAnswerDocument(*text);
  if (!doc) return std::nullopt;
  const std::optional<store::XmlElement> kv = doc->Find("KV");
  if (!kv) return std::nullopt;
  if (!outcome.ReadResult(*kv)) return std::nullopt;
  return doc;
}

std::optional<store::XmlDocument> ServiceConnection::SendDocument(
    RequestMode mode, const ClientIdentity& identity, std::string_view client_build,
    std::string_view document, RequestOutcome& outcome) {
  const RequestShape& shape = ShapeOf(mode);
  const ZipEntry entry{std::string(shape.entry_name), std::string(document)};
  auto archive = WriteZipArchive(std::span(&entry, 1));
  if (!archive) {
    // Nothing was sent; the request's starting state stands.
    return std::nullopt;
  }
  FormPoster form(transport_);
  AddIdentityFields(form, identity, client_build);
  form.AddFile(shape.file_field, shape.file_name, std::move(archive).value());
  form.AddField("Submit", "Submit");
  return Exchange(mode, form, outcome);
}

}  // namespace kv::service
