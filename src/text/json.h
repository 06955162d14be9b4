#pragma once
// JSON for machine descriptions, kvdiag output and the service's tests.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::text {

// A tiny strict JSON reader: enough for machine descriptions and test data, bounded in
// depth, integers only (exact to 64 bits), strings decoded to UTF-8.
struct JsonMember;

struct JsonValue {
  enum class Kind { Null, Bool, Number, String, Array, Object } kind = Kind::Null;
  bool boolean = false;
  bool negative = false;
  std::uint64_t number = 0;  // magnitude
  std::string text;
  std::vector<JsonValue> items;                             // Array
  std::vector<JsonMember> members;  // Object, in file order

  const JsonValue* Find(std::string_view key) const;
};

struct JsonMember {
  std::string first;  // the key
  JsonValue second;
};

// Sets `error` ("offset N: ...") and returns false on malformed input.
bool ParseJson(std::string_view json, JsonValue& out, std::string& error);

// A JSON string literal, quotes included; text that is not valid UTF-8 gets U+FFFD.
std::string JsonQuote(std::string_view s);

}  // namespace kv::text
