#pragma once
// How the service recognises one program across machines, languages and
// versions. The words come from the client's own name analysis
// (inventory/names.h, inventory/version.h), so that the service and the
// client never disagree about what a name or a version says.
//
// Which name identifies a reported program: the `DisplayName` first, the
// `Name` only when there is no display name. The display name is the
// uninstall entry's own text, which every machine with that program reports
// alike. The `Name` is not a fact about the machine: it is the service's `N`
// once the service has sent one (so keying on it would feed the service's
// own choice back into the lookup), and before that the client's derived
// name, which shortcut matching can change between client versions.
// Short-form programs have no uninstall entry and so only a `Name`.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kv::server {

// The words that name the program, case-folded and joined by single blanks:
// "Mozilla Firefox 121.0 (x64 en-US)" gives "mozilla firefox". Besides the
// client's cleaning (versions, brackets, licence phrases, edition words),
// architecture words outside brackets ("x64", "64-bit", "7-x64" gives "7"),
// separator dashes and a trailing "- en-us" language tag are dropped. When
// nothing remains, the case-folded trimmed name.
std::string MatchKey(std::string_view name);

// The publisher's key word, case-folded: "Mozilla Corporation" and "Mozilla"
// both give "mozilla". "" when the publisher has none.
std::string PublisherKey(std::string_view publisher);

inline constexpr std::size_t kMaxShortName = 63;  // one DNS label

// A DNS host label for the program's pages: "mozilla-firefox",
// "notepad-plus-plus". Pass the program's own name (the catalogue's, or the
// client's `Name`), not a display name with a version in it.
std::string ShortName(std::string_view name);

// `base` with "-n" appended, cut so that the whole stays one label. n < 2
// gives the base itself, so the first program keeps the plain name.
std::string ShortNameWithSuffix(std::string_view base, std::int64_t n);

// One program as a report names it (the `Program` element).
struct ReportedProgram {
  std::string name;
  std::string display_name;
  std::string publisher;
  std::string version_text;
  bool beta = false;
};

// The name that identifies it: the display name when it is not blank, else
// the name.
std::string_view IdentifyingName(const ReportedProgram& program);

// MatchKey(IdentifyingName) + "|" + PublisherKey(publisher). The right side
// holds letters only, so the last "|" always splits the two.
std::string CatalogueKeyOf(const ReportedProgram& program);

// True when `a` is a version and orders above `b`; any version is newer
// than a text that holds none. The client's order: suffixes are not
// compared, so "2.0 beta" is not newer than "2.0".
bool IsNewerVersion(std::string_view a, std::string_view b);

// The highest of `versions` as given (ties keep the first); texts that hold
// no version are passed over. "" when none holds one.
std::string HighestVersion(const std::vector<std::string>& versions);

}  // namespace kv::server
