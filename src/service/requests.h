#pragma once
// The shape every exchange with the web service shares: the request table
// (mode, host, form encoding, the file part and its archive entry), the
// identity fields every form starts with, and the answer: a zip archive
// holding "report.xml", whose root `KV` carries a `Result` block.
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "app/service_config.h"
#include "inventory/file_version_info.h"
#include "platform/http_transport.h"
#include "platform/status.h"
#include "service/form_poster.h"
#include "service/request_outcome.h"
#include "store/xml_store.h"

namespace kv::service {

enum class RequestMode {
  GetId,
  AddGuest,
  AddUser,
  AddPrograms,
  CheckUpdates,
  UploadIcons,
  AddComment,
  RateProgram,
  AddExtensions,
  AddUsageLog,
};

enum class ServiceHost { Site, Upload };
enum class FormEncoding { UrlEncoded, Multipart };

struct RequestShape {
  RequestMode mode;
  std::string_view name;  // the `mode` query value
  ServiceHost host;
  FormEncoding encoding;
  // Multipart requests: the file part's field and file name, and the one
  // entry of its archive (empty for the icon archive, which holds many).
  std::string_view file_field;
  std::string_view file_name;
  std::string_view entry_name;
};

const RequestShape& ShapeOf(RequestMode mode);
// "/kv.php?mode=" + the mode's name.
std::string RequestPath(RequestMode mode);

// Who is asking: the account and the machine.
struct ClientIdentity {
  std::string id;        // the account's Id; may be empty
  std::string guid;      // the machine identifier
  std::string email;     // may be empty: the Id is sent instead
  std::string password;  // the password digest
};

// The third component of the client's fixed product version in decimal, or
// "???" when the version has fewer than three components.
std::string ClientBuildOf(const inventory::FileVersionInfo& own);
// The running client's build, read once per process.
const std::string& OwnClientBuild(platform::Shell& shell);

// `client_build`, `id` (left out when empty), `GUID`, `email` (the Id when
// empty), `password`.
void AddIdentityFields(FormPoster& form, const ClientIdentity& identity,
                       std::string_view client_build);

// The answer body is read in pieces of this size, and never beyond the limit.
inline constexpr std::size_t kAnswerPieceSize = 10240;
inline constexpr std::size_t kMaxAnswerBytes = 32u << 20;
inline constexpr std::string_view kAnswerEntry = "report.xml";

// Reads the whole reply body of `form` and takes "report.xml" (name without
// regard to case) out of the archive, in memory. A failed read keeps the
// transport's reason (Network, Timeout); everything wrong with the bytes
// (too long, not an archive, a broken limit, no "report.xml") is Corrupt.
platform::Result<std::string> ReadAnswer(FormPoster& form);
// Parses an answer text; nullopt when the parser rejects it.
std::optional<store::XmlDocument> LoadAnswerDocument(std::string_view text);

// The connection to the service as configured: which host serves a request.
class ServiceConnection {
 public:
  ServiceConnection(platform::HttpTransport& transport, app::ServiceConfig config)
      : transport_(transport), config_(std::move(config)) {}

  platform::HttpTransport& transport() { return transport_; }
  const app::ServiceConfig& config() const { return config_; }
  const app::ServiceEndpoint& EndpointOf(ServiceHost host) const {
    return host == ServiceHost::Upload ? config_.upload : config_.site;
  }

  // Posts `form` as the table says for `mode` and reads the answer. The
  // caller has put `outcome` into the request's starting state. Returns the
  // answer document when its `Result` said OK (the outcome then says
  // succeeded); otherwise nullopt and the outcome says what went wrong: a
  // failed post or read is a network failure with its reason, a body that is
  // no answer document (or lacks `KV`) is an invalid answer, and a `Result`
  // other than OK is the service's code.
  std::optional<store::XmlDocument> Exchange(RequestMode mode, FormPoster& form,
                                             RequestOutcome& outcome);

  // A multipart request carrying one zipped document: the identity fields,
  // the file part holding `document` under the mode's entry name, `Submit`.
  std::optional<store::XmlDocument> SendDocument(RequestMode mode, const ClientIdentity& identity,
                                                 std::string_view client_build,
                                                 std::string_view document,
                                                 RequestOutcome& outcome);

 private:
  platform::HttpTransport& transport_;
  app::ServiceConfig config_;
};

}  // namespace kv::service
