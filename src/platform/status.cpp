#include "platform/status.h"

namespace kv::platform {

const char* ErrorKindName(ErrorKind kind) {
  switch (kind) {
    case ErrorKind::NotFound: return "not found";
    case ErrorKind::AlreadyExists: return "already exists";
    case ErrorKind::AccessDenied: return "access denied";
    case ErrorKind::SharingViolation: return "in use by another program";
    case ErrorKind::DiskFull: return "disk full";
    case ErrorKind::Corrupt: return "corrupt";
    case ErrorKind::Network: return "network failure";
    case ErrorKind::Timeout: return "timed out";
    case ErrorKind::Other: break;
  }
  return "failed";
}

Status Status::Error(ErrorKind kind, std::string message, std::uint32_t code) {
  Status s;
  s.failure_ = std::make_shared<const Failure>(Failure{kind, code, std::move(message)});
  return s;
}

const std::string& Status::message() const {
  static const std::string empty;
  return failure_ ? failure_->message : empty;
}

std::string Status::ToString() const {
  if (!failure_) return "OK";
  std::string out = ErrorKindName(failure_->kind);
  if (!failure_->message.empty()) out += ": " + failure_->message;
  if (failure_->code != 0) out += " (error " + std::to_string(failure_->code) + ")";
  return out;
}

}  // namespace kv::platform
