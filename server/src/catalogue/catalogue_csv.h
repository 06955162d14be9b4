#pragma once
// The catalogue as a CSV file (RFC 4180): one header line naming the
// columns, then one program a row. Operators edit it by hand and
// `catalogue list --csv` writes it, so the reader says where a file is
// wrong instead of guessing.
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/status.h"

namespace kv::server {

struct CatalogueRow {
  std::string name;
  std::string publisher;
  std::string stable;     // latest stable version; may be empty
  std::string beta;       // latest beta version; may be empty
  std::string home_page;  // an http(s) address; may be empty

  bool operator==(const CatalogueRow&) const = default;
};

struct CatalogueLimits {
  std::size_t max_rows = 100000;
  std::size_t max_name = 256;   // bytes of a name or a publisher
  std::size_t max_field = 4096;  // bytes of any other field
};

// What is wrong with a row, whichever way it came ("" when nothing is):
// text that is not UTF-8 or over the limits, a blank name, a version that
// does not parse, a home page that is not an http(s) address.
std::string CatalogueRowProblem(const CatalogueRow& row, const CatalogueLimits& limits = {});

// An http:// or https:// address without blanks.
bool IsWebAddress(std::string_view s);

// Reads the file's text. Columns are "name", "publisher", "stable", "beta"
// and "home_page" in any order (case-insensitive); "name" is required, a
// missing column reads as empty, an unknown one is an error. Fields may be
// quoted ("a, b", "say ""hi"""); blanks around an unquoted field are
// dropped, inside quotes they are kept. Lines end in CR LF or LF, a UTF-8
// byte order mark is passed over and blank lines are skipped. Versions must
// parse and a home page must be an http(s) address. Failures are Corrupt,
// with the line number and the reason in the message.
platform::Result<std::vector<CatalogueRow>> ParseCatalogueCsv(
    std::string_view text, const CatalogueLimits& limits = {});

// Reads and parses a file; NotFound when it cannot be opened.
platform::Result<std::vector<CatalogueRow>> ReadCatalogueCsvFile(
    const std::filesystem::path& path, const CatalogueLimits& limits = {});

// One field as CSV: quoted, with quotes doubled, when it holds a comma, a
// quote, a line break or blanks at either end; as it is otherwise.
std::string CsvField(std::string_view value);

// The header line and one line per row, all five columns, LF line ends.
std::string WriteCatalogueCsv(const std::vector<CatalogueRow>& rows);

}  // namespace kv::server
