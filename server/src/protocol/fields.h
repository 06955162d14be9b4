#pragma once
// The fields of one request's form, as the protocol handlers read them:
// plain values and the contents of file parts, by exact name.
#include <optional>
#include <string_view>

namespace kv::server {

class RequestFields {
 public:
  virtual ~RequestFields() = default;
  virtual std::optional<std::string_view> Field(std::string_view name) const = 0;
  virtual std::optional<std::string_view> File(std::string_view name) const = 0;
  std::string_view Value(std::string_view name) const { return Field(name).value_or(""); }
};

}  // namespace kv::server
