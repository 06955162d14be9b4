#pragma once
// What became of the last request to the web service, and the words the
// user interface shows for it. The software list and the account each own
// one. A network failure keeps its reason for the activity log.
#include <string>

#include "platform/status.h"
#include "store/xml_store.h"

namespace kv::service {

enum class OutcomeKind {
  Succeeded = 0,
  NetworkFailure = 1,
  UnknownFailure = 2,
  ServiceFailure = 3,  // reported by the service, or about its answer
};

enum class AnswerCode {
  Ok = 0,
  LoginFailure = 1,
  ExtendedError = 2,
  UnexpectedError = 3,
  InvalidAnswer = 4,  // set by the client
  NoAnswer = 5,       // set by the client
  OldClientVersion = 6,
};

// The code of a `Code` element's text, compared without regard to case;
// any text not listed is UnexpectedError.
AnswerCode AnswerCodeFromText(std::string_view text);

class RequestOutcome {
 public:
  // Starts in the state Begin() sets.
  RequestOutcome() { Begin(); }

  // The starting state of most requests: unknown failure, no answer.
  void Begin();
  // The post failed; `reason` says why (for the log, not the user).
  void SetNetworkFailure(platform::Status reason = {});
  void SetInvalidAnswer();
  void SetSucceeded();
  // Reads the `Result` block below the answer's root `KV`: `Code`,
  // `Message`, `UpdateUrl`, `InstallerCmdLineParams`, names compared without
  // regard to case. No `Result` is an invalid answer. True when the code is OK.
  bool ReadResult(const store::XmlElement& kv);

  // The text the user interface shows.
  std::string Text() const;
  // The service's code when the service failed, else UnexpectedError.
  AnswerCode ResultCode() const;

  OutcomeKind kind() const { return kind_; }
  AnswerCode code() const { return code_; }
  bool succeeded() const { return kind_ == OutcomeKind::Succeeded; }
  const std::string& message() const { return message_; }
  const std::string& update_url() const { return update_url_; }
  const std::string& installer_params() const { return installer_params_; }
  // Why the network failed (success when it did not).
  const platform::Status& network_reason() const { return network_reason_; }

 private:
  OutcomeKind kind_ = OutcomeKind::UnknownFailure;
  AnswerCode code_ = AnswerCode::NoAnswer;
  std::string message_;
  std::string update_url_;
  std::string installer_params_;
  platform::Status network_reason_;
};

}  // namespace kv::service
