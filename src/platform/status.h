#pragma once
// The outcome of a port operation: success, or a failure that keeps its
// reason (a kind that code can test, the system's error code, and a message
// for the activity log and kvdiag). The adapters translate the system's
// error codes in one place each, so "access denied" or "the file is in use"
// reaches the user instead of a bare false.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <type_traits>
#include <utility>

namespace kv::platform {

enum class ErrorKind {
  NotFound,          // the file, folder or key does not exist
  AlreadyExists,     // creating something that is there
  AccessDenied,      // permissions, a read-only file or key
  SharingViolation,  // another program holds the file open
  DiskFull,          // no space or quota left
  Corrupt,           // the data is there but does not make sense
  Network,           // a connection could not be made or broke off
  Timeout,           // no answer in time
  Other,             // anything else; the code and message tell more
};

// "not found", "access denied" ...
const char* ErrorKindName(ErrorKind kind);

class [[nodiscard]] Status {
 public:
  // Success.
  Status() = default;
  static Status Ok() { return {}; }
  // A failure; `code` is the system's own error code (0 when there is none).
  static Status Error(ErrorKind kind, std::string message, std::uint32_t code = 0);

  bool ok() const { return !failure_; }
  explicit operator bool() const { return ok(); }
  // True for a failure of that kind.
  bool Is(ErrorKind kind) const { return failure_ && failure_->kind == kind; }
  // Meaningful for failures only (Other for success).
  ErrorKind kind() const { return failure_ ? failure_->kind : ErrorKind::Other; }
  std::uint32_t code() const { return failure_ ? failure_->code : 0; }
  const std::string& message() const;

  // "OK", or "access denied: C:\x\softList.xml (error 5)".
  std::string ToString() const;
  // Says at the call that a failure is of no consequence there.
  void IgnoreError() const {}

 private:
  struct Failure {
    ErrorKind kind;
    std::uint32_t code;
    std::string message;
  };
  // Shared: a Status is copied around far more often than it fails.
  std::shared_ptr<const Failure> failure_;
};

// A value, or the Status that explains why there is none. It reads like an
// optional (`if (r)`, `*r`, `r->`); when the value is an owning pointer,
// `*` and `->` reach the object it owns, as the pointer would, and
// `std::move(r).value()` takes the pointer.
template <typename T>
class [[nodiscard]] Result {
 public:
  // A value converts to success; an empty owning pointer is a failure, so
  // that `return nullptr;` never reads as an object.
  Result(T value) : value_(std::move(value)) {  // NOLINT
    if constexpr (kPointerLike) {
      if (*value_ == nullptr) {
        value_.reset();
        status_ = Status::Error(ErrorKind::Other, "no object");
      }
    }
  }
  // `error` must be a failure.
  Result(Status error) : status_(std::move(error)) {  // NOLINT: so does a failure
    if (status_.ok()) status_ = Status::Error(ErrorKind::Other, "no value");
  }

  bool ok() const { return value_.has_value(); }
  bool has_value() const { return value_.has_value(); }
  explicit operator bool() const { return ok(); }
  // Success when there is a value.
  const Status& status() const { return status_; }

  decltype(auto) operator*() & {
    if constexpr (kPointerLike) return **value_;
    else return static_cast<T&>(*value_);
  }
  decltype(auto) operator*() const& {
    if constexpr (kPointerLike) return **value_;
    else return static_cast<const T&>(*value_);
  }
  decltype(auto) operator*() && {
    if constexpr (kPointerLike) return **value_;
    else return static_cast<T&&>(std::move(*value_));
  }
  T& value() & { return *value_; }
  const T& value() const& { return *value_; }
  T&& value() && { return std::move(*value_); }
  template <typename U>
  T value_or(U&& fallback) const& {
    return value_ ? *value_ : static_cast<T>(std::forward<U>(fallback));
  }

  auto operator->() {
    if constexpr (kPointerLike) return value_->get();
    else return &*value_;
  }
  auto operator->() const {
    if constexpr (kPointerLike) return static_cast<const T&>(*value_).get();
    else return &*value_;
  }

  // Equal when there is a value equal to `other`; a failure equals nothing
  // but nullptr, like an empty pointer.
  template <typename U>
    requires(!std::is_same_v<U, std::nullptr_t>)
  friend bool operator==(const Result& r, const U& other) {
    return r.value_.has_value() && *r.value_ == other;
  }
  friend bool operator==(const Result& r, std::nullptr_t) {
    if constexpr (kPointerLike) return !r.value_ || *r.value_ == nullptr;
    else return false;
  }

  // The value as an optional (the reason dropped).
  std::optional<T> optional() && { return std::move(value_); }

 private:
  static constexpr bool kPointerLike = requires(T& t) {
    t.get();
    t.operator->();
  };
  std::optional<T> value_;
  Status status_;
};

}  // namespace kv::platform
