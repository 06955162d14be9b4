#include "catalogue/catalogue_csv.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <iterator>
#include <optional>
#include <utility>

#include "inventory/version.h"
#include "text/compare.h"
#include "text/utf8.h"

namespace kv::server {
namespace {

using platform::ErrorKind;
using platform::Status;

constexpr std::array<std::string_view, 5> kColumns = {"name", "publisher", "stable", "beta",
                                                      "home_page"};
enum Column { kName, kPublisher, kStable, kBeta, kHomePage };

struct Record {
  std::vector<std::string> fields;
  std::size_t line = 0;  // where the record starts
  bool blank = false;    // one unquoted field of blanks at most
};

Status Fail(std::size_t line, const std::string& reason) {
  return Status::Error(ErrorKind::Corrupt, "line " + std::to_string(line) + ": " + reason);
}

std::string_view TrimBlanks(std::string_view s) {
  const std::size_t first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}

// Splits the text into records, one at a time.
class CsvReader {
 public:
  explicit CsvReader(std::string_view text) : text_(text) {
    if (text_.starts_with("\xEF\xBB\xBF")) text_.remove_prefix(3);
  }

  bool AtEnd() const { return pos_ >= text_.size(); }

  // The next record; a failure names the line and the reason.
  platform::Result<Record> Next() {
    Record record;
    record.line = line_;
    bool quoted_any = false;
    for (;;) {
      std::string field;
      const std::size_t start = pos_;
      // Blanks around a quoted field are layout: `a, "b, c"`.
      while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
      if (pos_ < text_.size() && text_[pos_] == '"') {
        quoted_any = true;
        if (Status s = ReadQuoted(field); !s) return s;
      } else {
        pos_ = start;
        while (pos_ < text_.size() && !IsFieldEnd(text_[pos_])) {
          if (text_[pos_] == '"') return Fail(line_, "a quote inside an unquoted field");
          ++pos_;
        }
        field.assign(TrimBlanks(text_.substr(start, pos_ - start)));
      }
      record.fields.push_back(std::move(field));
      if (pos_ >= text_.size()) break;
      const char c = text_[pos_++];
      if (c == ',') continue;
      if (c == '\r') {
        if (pos_ >= text_.size() || text_[pos_] != '\n')
          return Fail(line_, "a carriage return without a line feed");
        ++pos_;
      }
      ++line_;
      break;
    }
    record.blank = !quoted_any && record.fields.size() == 1 && record.fields[0].empty();
    return record;
  }

 private:
  static bool IsFieldEnd(char c) { return c == ',' || c == '\r' || c == '\n'; }

  // From the opening quote to the character after the closing one.
  Status ReadQuoted(std::string& field) {
    const std::size_t opened = line_;
    ++pos_;
    for (;;) {
      if (pos_ >= text_.size()) return Fail(opened, "a quoted field is not closed");
      const char c = text_[pos_++];
      if (c == '"') {
        if (pos_ < text_.size() && text_[pos_] == '"') {
          field += '"';
          ++pos_;
          continue;
        }
        break;
      }
      if (c == '\n') ++line_;
      field += c;
    }
    while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t')) ++pos_;
    if (pos_ < text_.size() && !IsFieldEnd(text_[pos_]))
      return Fail(line_, "text after a closing quote");
    return Status::Ok();
  }

  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
};

// Which column each field of a row fills.
platform::Result<std::vector<Column>> ReadHeader(const Record& header) {
  std::vector<Column> columns;
  for (const std::string& field : header.fields) {
    const std::string_view name = TrimBlanks(field);
    std::optional<Column> found;
    for (std::size_t i = 0; i < kColumns.size(); ++i)
      if (text::EqualsNoCase(name, kColumns[i])) found = static_cast<Column>(i);
    if (!found) return Fail(header.line, "unknown column \"" + std::string(name) + "\"");
    if (std::find(columns.begin(), columns.end(), *found) != columns.end())
      return Fail(header.line, "column \"" + std::string(name) + "\" given twice");
    columns.push_back(*found);
  }
  if (std::find(columns.begin(), columns.end(), kName) == columns.end())
    return Fail(header.line, "no \"name\" column");
  return columns;
}

platform::Result<CatalogueRow> ReadRow(const Record& record, const std::vector<Column>& columns,
                                       const CatalogueLimits& limits) {
  if (record.fields.size() != columns.size())
    return Fail(record.line, "expected " + std::to_string(columns.size()) + " fields, found " +
                                 std::to_string(record.fields.size()));
  CatalogueRow row;
  std::string* const slots[] = {&row.name, &row.publisher, &row.stable, &row.beta, &row.home_page};
  for (std::size_t i = 0; i < columns.size(); ++i) *slots[columns[i]] = record.fields[i];
  if (std::string problem = CatalogueRowProblem(row, limits); !problem.empty())
    return Fail(record.line, problem);
  return row;
}

}  // namespace

bool IsWebAddress(std::string_view s) {
  return (text::StartsWithNoCase(s, "http://") || text::StartsWithNoCase(s, "https://")) &&
         s.find_first_of(" \t\r\n") == std::string_view::npos;
}

std::string CatalogueRowProblem(const CatalogueRow& row, const CatalogueLimits& limits) {
  const std::string* const values[] = {&row.name, &row.publisher, &row.stable, &row.beta,
                                       &row.home_page};
  for (std::size_t i = 0; i < kColumns.size(); ++i) {
    const std::string& value = *values[i];
    const std::string column(kColumns[i]);
    if (!text::IsValidUtf8(value)) return column + " is not valid UTF-8";
    const std::size_t max = i == kName || i == kPublisher ? limits.max_name : limits.max_field;
    if (value.size() > max) return column + " is longer than " + std::to_string(max) + " bytes";
  }
  if (TrimBlanks(row.name).empty()) return "the name is empty";
  inventory::ProgramVersion version;
  for (const auto& [value, column] : {std::pair{&row.stable, "stable"}, {&row.beta, "beta"}}) {
    if (!value->empty() && !inventory::ParseVersion(*value, version))
      return std::string(column) + " \"" + *value + "\" is not a version";
  }
  if (!row.home_page.empty() && !IsWebAddress(row.home_page))
    return "home_page is not an http or https address";
  return {};
}

platform::Result<std::vector<CatalogueRow>> ParseCatalogueCsv(std::string_view text,
                                                              const CatalogueLimits& limits) {
  CsvReader reader(text);
  std::optional<std::vector<Column>> columns;
  std::vector<CatalogueRow> rows;
  while (!reader.AtEnd()) {
    platform::Result<Record> record = reader.Next();
    if (!record) return record.status();
    if (record->blank) continue;
    if (!columns) {
      auto header = ReadHeader(*record);
      if (!header) return header.status();
      columns = std::move(header).value();
      continue;
    }
    if (rows.size() >= limits.max_rows)
      return Fail(record->line, "more than " + std::to_string(limits.max_rows) + " rows");
    auto row = ReadRow(*record, *columns, limits);
    if (!row) return row.status();
    rows.push_back(std::move(row).value());
  }
  if (!columns) return Fail(1, "no header line");
  return rows;
}

platform::Result<std::vector<CatalogueRow>> ReadCatalogueCsvFile(
    const std::filesystem::path& path, const CatalogueLimits& limits) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return Status::Error(ErrorKind::NotFound, "cannot open " + path.string());
  const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  if (in.bad()) return Status::Error(ErrorKind::Other, "cannot read " + path.string());
  auto rows = ParseCatalogueCsv(text, limits);
  if (!rows)
    return Status::Error(ErrorKind::Corrupt, path.string() + " " + rows.status().message());
  return rows;
}

std::string CsvField(std::string_view value) {
  const bool quote = value.find_first_of(",\"\r\n") != std::string_view::npos ||
                     (!value.empty() && (value.front() == ' ' || value.front() == '\t' ||
                                         value.back() == ' ' || value.back() == '\t'));
  if (!quote) return std::string(value);
  std::string out = "\"";
  for (const char c : value) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

std::string WriteCatalogueCsv(const std::vector<CatalogueRow>& rows) {
  std::string out = "name,publisher,stable,beta,home_page\n";
  for (const CatalogueRow& row : rows) {
    out += CsvField(row.name);
    for (const std::string* field : {&row.publisher, &row.stable, &row.beta, &row.home_page}) {
      out += ',';
      out += CsvField(*field);
    }
    out += '\n';
  }
  return out;
}

}  // namespace kv::server
