#pragma once
// The catalogue as reports and operators change it: finding a reported
// program's entry (or making one, so every program gets an identifier and a
// page), setting released versions, importing a CSV file.
#include <cstdint>
#include <string_view>
#include <vector>

#include "catalogue/catalogue_csv.h"
#include "catalogue/program_key.h"
#include "storage/storage.h"

namespace kv::server {

// The entry of `reported`, added when the catalogue does not know it. Its
// page name is the program's short name, or when another entry has that, the
// short name with the new entry's id as a suffix ("firefox-42").
Result<Program> FindOrAddProgram(Transaction& tx, const ReportedProgram& reported,
                                 std::int64_t now);
// The same with its key, CatalogueKeyOf(reported), worked out already.
Result<Program> FindOrAddProgram(Transaction& tx, const ReportedProgram& reported,
                                 const std::string& key, std::int64_t now);

struct ImportCounts {
  std::size_t added = 0;
  std::size_t updated = 0;  // versions or home page set from the file
};
// Adds the rows the catalogue lacks; for known ones, non-empty versions and
// home pages in the file replace the stored ones.
Result<ImportCounts> ImportCatalogue(Transaction& tx, const std::vector<CatalogueRow>& rows,
                                     std::int64_t now);

// The entries whose name is `name` (any case); the publisher narrows it
// when given.
std::vector<Program> FindByName(Transaction& tx, std::string_view name, std::string_view publisher);

}  // namespace kv::server
