#pragma once
// Plain-text tables for kvdiag: columns padded by characters, not bytes, so
// non-ASCII names line up.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "text/utf8.h"

namespace kv::diag {

using TableRows = std::vector<std::vector<std::string>>;

// Prints `rows` (the first one is the header), each line after `indent`.
inline void PrintColumns(const TableRows& rows, const std::string& indent = "") {
  if (rows.empty()) return;
  std::vector<std::size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows)
    for (std::size_t c = 0; c < row.size() && c < widths.size(); ++c)
      widths[c] = std::max(widths[c], text::CountChars(row[c]));
  for (const auto& row : rows) {
    std::string line = indent;
    for (std::size_t c = 0; c < row.size(); ++c) {
      line += row[c];
      if (c + 1 < row.size() && c < widths.size())
        line.append(widths[c] - text::CountChars(row[c]) + 2, ' ');
    }
    while (!line.empty() && line.back() == ' ') line.pop_back();
    line += '\n';
    std::fwrite(line.data(), 1, line.size(), stdout);
  }
}

}  // namespace kv::diag
