#include "protocol/answer.h"

#include <stdexcept>

#include "service/zip_archive.h"

namespace kv::server {

AnswerDocument::AnswerDocument(std::string_view code, std::string_view message,
                               std::string_view update_url, std::string_view installer_params) {
  w_.Open("", "KV");
  w_.Open(" ", "Result");
  w_.Text("  ", "Code", code);
  if (!message.empty()) w_.Text("  ", "Message", message);
  if (!update_url.empty()) w_.Text("  ", "UpdateUrl", update_url);
  if (!installer_params.empty()) w_.Text("  ", "InstallerCmdLineParams", installer_params);
  w_.Close(" ", "Result");
}

std::string AnswerDocument::Finish() {
  w_.Close("", "KV");
  const service::ZipEntry entry{"report.xml", w_.Take()};
  // The fastest level: answers are made at every request, and the last
  // few per cent of size cost several times the time.
  auto zip = service::WriteZipArchive(std::span(&entry, 1), 1);
  // Writing to memory fails only when memory runs out.
  if (!zip) throw std::runtime_error(zip.status().ToString());
  return std::move(zip).value();
}

std::string ResultAnswer(std::string_view code, std::string_view message) {
  return AnswerDocument(code, message).Finish();
}

}  // namespace kv::server
