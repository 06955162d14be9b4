// Name and version analysis on arbitrary bytes: nothing may crash, overflow
// or break the ordering and range rules. The input is two texts separated by
// the first line feed.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "inventory/names.h"
#include "inventory/release_status.h"
#include "inventory/version.h"

using namespace kv::inventory;

namespace {

void Check(bool ok) {
  if (!ok) std::abort();
}

void Version(std::string_view text, ProgramVersion& v) {
  const bool present = ParseVersion(text, v);
  Check(present == v.IsPresent());
  Check(present || v.suffix.empty());
  Check(!IsOlderVersion(v, v));
  const std::string formatted = FormatVersion(v);
  if (v.suffix.empty()) {
    ProgramVersion again;
    ParseVersion(formatted, again);
    Check(again.components == v.components);
  }
}

void Names(std::string_view text, const ProgramVersion& known, NameWords& cleaned) {
  const NameWords tokens = Tokenize(text);
  for (CleanMode mode : {CleanMode::kName, CleanMode::kMatch}) {
    NameWords words = tokens;
    CleanWords(words, mode);
    for (const std::string& w : words.words) Check(!w.empty());
    Check(words.words.size() + words.removed.size() <= tokens.words.size());
    if (!words.words.empty()) Check(NameSimilarity(words.words, words.words) == 100);
    cleaned = std::move(words);
  }
  ProgramVersion v = known;
  FindVersionInName(tokens, v);
  FormatVersion(v);
  v = known;
  StripVersionFromName(tokens, v);
  NameWords split = tokens;
  SplitCamelCase(split);
  NameWords publisher = tokens;
  PublisherKey(publisher);
  Check(publisher.words.size() <= 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t cut = input.find('\n');
  const std::string_view a = input.substr(0, cut);
  const std::string_view b = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);

  ProgramVersion va, vb;
  Version(a, va);
  Version(b, vb);
  Check(!(IsOlderVersion(va, vb) && IsOlderVersion(vb, va)));

  NameWords ca, cb;
  Names(a, vb, ca);
  Names(b, va, cb);
  const int likeness = NameSimilarity(ca.words, cb.words);
  Check(likeness >= 0 && likeness <= 100);
  const int raw = NameSimilarity(Tokenize(a).words, Tokenize(b).words);
  Check(raw >= 0 && raw <= 100);

  ReleaseStatusInput in;
  in.display_name.assign(a);
  in.display_version.assign(b);
  in.product_version.assign(b);
  in.file_version.assign(a);
  in.product_name.assign(a);
  in.version = va;
  Check(!DetermineReleaseStatus(in).empty());
  return 0;
}
