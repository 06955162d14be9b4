#pragma once
// Answers as the client reads them: a zip archive holding "report.xml",
// whose root `KV` carries `Result` and the sections of the mode.
#include <string>
#include <string_view>

#include "store/xml_writer.h"

namespace kv::server {

class AnswerDocument {
 public:
  // Starts `KV` with a `Result` of `code` ("OK", "LoginFailure", ...).
  explicit AnswerDocument(std::string_view code = "OK", std::string_view message = {},
                          std::string_view update_url = {},
                          std::string_view installer_params = {});
  store::XmlWriter& writer() { return w_; }
  // Closes `KV` and zips the document: the answer body.
  std::string Finish();
  // The document text so far (tests).
  const std::string& text() const { return w_.str(); }

 private:
  store::XmlWriter w_;
};

// An answer carrying only its `Result`.
std::string ResultAnswer(std::string_view code, std::string_view message = {});

}  // namespace kv::server
