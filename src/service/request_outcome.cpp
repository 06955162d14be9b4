#include "service/request_outcome.h"

#include "text/compare.h"

namespace kv::service {

AnswerCode AnswerCodeFromText(std::string_view text) {
  struct Known {
    std::string_view text;
    AnswerCode code;
  };
  static constexpr Known kKnown[] = {
      {"OK", AnswerCode::Ok},
      {"LoginFailure", AnswerCode::LoginFailure},
      {"ExtendedError", AnswerCode::ExtendedError},
      {"UnexpectedError", AnswerCode::UnexpectedError},
      {"OldClientVersion", AnswerCode::OldClientVersion},
  };
  for (const Known& k : kKnown) {
    if (text::EqualsNoCase(text, k.text)) return k.code;
  }
  return AnswerCode::UnexpectedError;
}

void RequestOutcome::Begin() {
  kind_ = OutcomeKind::UnknownFailure;
  code_ = AnswerCode::NoAnswer;
  network_reason_ = {};
}

void RequestOutcome::SetNetworkFailure(platform::Status reason) {
  kind_ = OutcomeKind::NetworkFailure;
  network_reason_ = std::move(reason);
}

void RequestOutcome::SetInvalidAnswer() {
  kind_ = OutcomeKind::ServiceFailure;
  code_ = AnswerCode::InvalidAnswer;
}

void RequestOutcome::SetSucceeded() {
  kind_ = OutcomeKind::Succeeded;
  code_ = AnswerCode::NoAnswer;
}

bool RequestOutcome::ReadResult(const store::XmlElement& kv) {
  message_.clear();
  // An update address from an earlier answer must not be taken for this one's.
  update_url_.clear();
  installer_params_.clear();
  const std::optional<store::XmlElement> result = kv.Find("Result");
  if (!result) {
    kind_ = OutcomeKind::ServiceFailure;
    code_ = AnswerCode::InvalidAnswer;
    return false;
  }
  // Without a `Code` the code stays what the request set before (invalid answer).
  AnswerCode code = code_;
  for (const store::XmlElement child : result->Children()) {
    if (child.NameIs("Code")) code = AnswerCodeFromText(child.Text());
    else if (child.NameIs("Message")) message_ = child.Text();
    else if (child.NameIs("UpdateUrl")) update_url_ = child.Text();
    else if (child.NameIs("InstallerCmdLineParams")) installer_params_ = child.Text();
  }
  code_ = code;
  kind_ = code == AnswerCode::Ok ? OutcomeKind::Succeeded : OutcomeKind::ServiceFailure;
  return kind_ == OutcomeKind::Succeeded;
}

std::string RequestOutcome::Text() const {
  switch (kind_) {
    case OutcomeKind::Succeeded:
      return "Succeeded.";
    case OutcomeKind::NetworkFailure:
      return "Unknown network error. Please check your firewall.";
    case OutcomeKind::UnknownFailure:
      return "Unknown error.";
    case OutcomeKind::ServiceFailure:
      break;
  }
  switch (code_) {
    case AnswerCode::UnexpectedError:
      return message_.empty() ? "Unexpected server error." : "Unexpected server error.\n" + message_;
    case AnswerCode::InvalidAnswer:
      return "Server returned an invalid response. Please contact Korvan support.";
    case AnswerCode::NoAnswer:
      return "Failed to connect to server. Try to check your firewall.";
    default:
      return message_;
  }
}

AnswerCode RequestOutcome::ResultCode() const {
  return kind_ == OutcomeKind::ServiceFailure ? code_ : AnswerCode::UnexpectedError;
}

}  // namespace kv::service
