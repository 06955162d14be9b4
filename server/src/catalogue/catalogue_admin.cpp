#include "catalogue/catalogue_admin.h"

#include "text/compare.h"

namespace kv::server {

Result<Program> FindOrAddProgram(Transaction& tx, const ReportedProgram& reported,
                                 std::int64_t now) {
  return FindOrAddProgram(tx, reported, CatalogueKeyOf(reported), now);
}

Result<Program> FindOrAddProgram(Transaction& tx, const ReportedProgram& reported,
                                 const std::string& key, std::int64_t now) {
  if (auto known = tx.FindProgramByKey(key)) return *known;
  Program p;
  p.match_key = key;
  // The client's own analysis named it without version words; the display
  // name is the fallback (and what operators' files give).
  p.name = reported.name.empty() ? std::string(IdentifyingName(reported)) : reported.name;
  p.publisher = reported.publisher;
  p.publisher_short = reported.publisher.empty() ? "" : ShortName(reported.publisher);
  p.created_at = now;
  // A program reported by its display name alone carries its version in
  // that name; its page is named by the words that stay across versions.
  const bool versioned_name = reported.name.empty() && !reported.version_text.empty();
  const std::string base = ShortName(versioned_name ? MatchKey(p.name) : p.name);
  p.short_name = base;
  if (!tx.FindProgramByShortName(base)) {
    auto id = tx.AddProgram(p);
    if (!id) return id.status();
    p.id = *id;
    return p;
  }
  // The base is taken: the entry's own id makes the suffix, so the Nth
  // program of one name costs no more lookups than the second. The row goes
  // in under a name no label can clash with ("~" is not a label character,
  // and the key is unique) until the id is known.
  p.short_name = "~" + key;
  auto id = tx.AddProgram(p);
  if (!id) return id.status();
  p.id = *id;
  p.short_name = ShortNameWithSuffix(base, p.id);
  // Only a program whose own name reads like "<base>-<id>" can hold it
  // already; each further suffix ends differently, so this ends.
  for (std::int64_t n = 2; tx.FindProgramByShortName(p.short_name); ++n)
    p.short_name = ShortNameWithSuffix(ShortNameWithSuffix(base, p.id), n);
  if (Status s = tx.UpdateProgram(p); !s) return s;
  return p;
}

Result<ImportCounts> ImportCatalogue(Transaction& tx, const std::vector<CatalogueRow>& rows,
                                     std::int64_t now) {
  ImportCounts counts;
  for (const CatalogueRow& row : rows) {
    ReportedProgram r;
    r.display_name = row.name;
    r.publisher = row.publisher;
    const bool known = tx.FindProgramByKey(CatalogueKeyOf(r)).has_value();
    auto entry = FindOrAddProgram(tx, r, now);
    if (!entry) return entry.status();
    Program p = std::move(entry).value();
    if (!known) ++counts.added;
    bool changed = false;
    for (auto [from, to] : {std::pair{&row.stable, &p.stable_version},
                            std::pair{&row.beta, &p.beta_version},
                            std::pair{&row.home_page, &p.home_page}}) {
      if (!from->empty() && *from != *to) {
        *to = *from;
        changed = true;
      }
    }
    if (changed) {
      if (Status s = tx.UpdateProgram(p); !s) return s;
      if (known) ++counts.updated;
    }
  }
  return counts;
}

std::vector<Program> FindByName(Transaction& tx, std::string_view name, std::string_view publisher) {
  std::vector<Program> out;
  for (Program& p : tx.ListPrograms(name, 1000)) {
    if (!text::EqualsNoCase(p.name, name)) continue;
    if (!publisher.empty() && PublisherKey(p.publisher) != PublisherKey(publisher)) continue;
    out.push_back(std::move(p));
  }
  return out;
}

}  // namespace kv::server
