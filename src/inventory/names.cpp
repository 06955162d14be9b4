#include "inventory/names.h"

#include <algorithm>
#include <initializer_list>

#include "text/chars.h"
#include "text/compare.h"
#include "text/utf8.h"

namespace kv::inventory {
namespace {

using text::EqualsNoCase;

bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

bool IsAllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), IsAsciiDigit);
}


// Byte offset of the last character; malformed bytes count one each.
std::size_t LastCharStart(std::string_view s) {
  std::size_t last = 0;
  for (std::size_t pos = 0; pos < s.size();) {
    last = pos;
    text::DecodeNext(s, pos);
  }
  return last;
}

bool IsAnyOf(std::string_view word, std::initializer_list<std::string_view> list) {
  for (const std::string_view w : list)
    if (EqualsNoCase(word, w)) return true;
  return false;
}

bool IsStopWord(std::string_view w) {
  return IsAnyOf(w, {"Version", "ver", "and", "or", "for", "the", "beta", "alpha"});
}

bool IsLicenceState(std::string_view w) { return IsAnyOf(w, {"Unlicensed", "Trial", "Demo"}); }

bool IsEditionWord(std::string_view w) {
  return IsAnyOf(w, {"standard", "professional", "enterprise", "edition", "pro", "demo", "trial"});
}

bool IsBuildPair(const WordList& w, std::size_t i) {
  return i + 1 < w.size() && EqualsNoCase(w[i], "build") && IsAllDigits(w[i + 1]);
}

// '2007', '2.0', 'V2.0' and '1.5a' are version words; 'V2', '3D' and 'XP' are not.
bool IsVersionWord(std::string_view w, ProgramVersion& scratch) {
  if (!ParseVersion(w, scratch)) return false;
  return scratch.components.size() >= 2 || IsAllDigits(w);
}

// How many words the removal rules take out at position i (0 when none).
std::size_t RemovableRun(const WordList& w, std::size_t i, CleanMode mode,
                         ProgramVersion& scratch) {
  const std::string& word = w[i];
  if (!word.empty() && word[0] == '(') return 1;
  if (IsStopWord(word)) return 1;
  if (word == "-" && i + 2 < w.size() && IsLicenceState(w[i + 1]) &&
      EqualsNoCase(w[i + 2], "Version"))
    return 3;
  if (IsLicenceState(word) && i + 1 < w.size() && EqualsNoCase(w[i + 1], "Version")) return 2;
  if (mode == CleanMode::kMatch && IsEditionWord(word)) return 1;
  if (IsBuildPair(w, i)) return 2;
  if (IsVersionWord(word, scratch)) return 1;
  return 0;
}

// Keeps letters, digits, "+" and "-". Malformed bytes decode to U+FFFD,
// which is no letter, so they are dropped here.
std::string FilterWord(std::string_view word, CleanMode mode) {
  std::string out;
  out.reserve(word.size());
  bool starts_with_letter = false;
  for (std::size_t pos = 0; pos < word.size();) {
    const std::size_t start = pos;
    const char32_t cp = text::DecodeNext(word, pos);
    if (cp == '+' || cp == '-' || text::IsAlnum(cp)) {
      if (out.empty()) starts_with_letter = text::IsLetter(cp);
      out.append(word.substr(start, pos - start));
    }
  }
  if (mode == CleanMode::kMatch && starts_with_letter) {
    while (!out.empty() && IsAsciiDigit(out.back())) out.pop_back();
  }
  return out;
}

// The word as a version candidate: brackets and a leading "v" before a
// digit are taken off.
std::string_view NormaliseVersionWord(std::string_view w) {
  if (!w.empty() && (w[0] == '(' || w[0] == '[')) {
    if (text::CountChars(w) < 4) return {};
    w = w.substr(1, LastCharStart(w) - 1);
  }
  if (w.size() >= 2 && (w[0] == 'v' || w[0] == 'V') && IsAsciiDigit(w[1])) w.remove_prefix(1);
  return w;
}


std::size_t CountCommonWords(const WordList& shorter, const WordList& longer) {
  std::size_t n = 0;
  if (shorter.size() * longer.size() <= 256) {
    for (const std::string& s : shorter) {
      for (const std::string& l : longer) {
        if (EqualsNoCase(s, l)) {
          ++n;
          break;
        }
      }
    }
    return n;
  }
  std::vector<std::u32string> keys;
  keys.reserve(longer.size());
  for (const std::string& l : longer) keys.push_back(text::FoldCase(l));
  std::sort(keys.begin(), keys.end());
  for (const std::string& s : shorter)
    if (std::binary_search(keys.begin(), keys.end(), text::FoldCase(s))) ++n;
  return n;
}

bool IsCapital(char32_t cp) { return cp >= 'A' && cp <= 'Z'; }
bool IsLowerLetter(char32_t cp) { return text::IsLetter(cp) && text::ToUpper(cp) != cp; }

// Appends the camel-case parts of one word to `out`.
void SplitWord(const std::string& word, WordList& out) {
  std::vector<char32_t> cps;
  std::vector<std::size_t> offsets;
  for (std::size_t pos = 0; pos < word.size();) {
    offsets.push_back(pos);
    cps.push_back(text::DecodeNext(word, pos));
  }
  const std::size_t m = cps.size();
  offsets.push_back(word.size());

  std::vector<bool> cut(m + 1, false);
  // A capital after a non-capital starts a part, except in "Foo-Bar" and "FooX6".
  for (std::size_t k = 1; k < m; ++k) {
    if (IsCapital(cps[k]) && !IsCapital(cps[k - 1]) && cps[k - 1] != '-' &&
        !(k + 1 < m && text::IsDigit(cps[k + 1])))
      cut[k] = true;
  }
  // "ABCMessenger": the last capital of a run belongs to the lower-case tail.
  std::vector<std::size_t> next_cut(m + 1, m);
  for (std::size_t k = m; k-- > 1;) next_cut[k - 1] = cut[k] ? k : next_cut[k];
  std::vector<bool> tail_cut(m + 1, false);
  for (std::size_t k = 1; k + 1 < m; ++k) {
    if (IsCapital(cps[k]) && IsCapital(cps[k - 1]) && IsLowerLetter(cps[k + 1]) &&
        next_cut[k] - k > 2)
      tail_cut[k] = true;
  }
  std::vector<std::size_t> bounds{0};
  for (std::size_t k = 1; k < m; ++k)
    if (cut[k] || tail_cut[k]) bounds.push_back(k);
  bounds.push_back(m);

  // Parts of one character are no words of their own ("xTunes" stays whole).
  const std::size_t first = out.size();
  std::size_t prev_len = 0;
  for (std::size_t b = 0; b + 1 < bounds.size(); ++b) {
    const std::size_t len = bounds[b + 1] - bounds[b];
    std::string part = word.substr(offsets[bounds[b]], offsets[bounds[b + 1]] - offsets[bounds[b]]);
    if (out.size() > first && (prev_len < 2 || len < 2)) {
      out.back() += part;
      prev_len += len;
    } else {
      out.push_back(std::move(part));
      prev_len = len;
    }
  }
}

}  // namespace

NameWords Tokenize(std::string_view text) {
  NameWords result;
  result.original.assign(text);
  WordList& words = result.words;
  std::string word;
  char closing = ' ';
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == closing) {
      if (closing != ' ') word += c;
      words.push_back(std::move(word));
      word.clear();
      while (i + 1 < text.size() && text[i + 1] == ' ') ++i;
      closing = ' ';
    } else if (closing == ' ' && (c == '(' || c == '[')) {
      // Brackets inside a group are plain characters, so a group stays one word.
      if (!word.empty()) {
        words.push_back(std::move(word));
        word.clear();
      }
      closing = c == '(' ? ')' : ']';
      word += c;
    } else {
      word += c;
    }
  }
  if (!word.empty()) words.push_back(std::move(word));
  return result;
}

void CleanWords(NameWords& nw, CleanMode mode) {
  // The rules only look forward, so the kept words can be collected in one
  // pass; a word's position is the number of words kept before it.
  WordList in = std::move(nw.words);
  WordList& kept = nw.words;
  kept.clear();
  kept.reserve(in.size());
  ProgramVersion scratch;
  for (std::size_t j = 0; j < in.size();) {
    if (!kept.empty()) {
      const std::size_t run = RemovableRun(in, j, mode, scratch);
      if (run) {
        for (std::size_t k = 0; k < run; ++k) nw.removed.push_back(std::move(in[j + k]));
        j += run;
        continue;
      }
    }
    std::string filtered = FilterWord(in[j], mode);
    ++j;
    if (!filtered.empty()) kept.push_back(std::move(filtered));
  }
}

bool FindVersionInName(const NameWords& nw, ProgramVersion& version) {
  const WordList& w = nw.words;
  bool have_build = false;
  std::int32_t build = 0;
  ProgramVersion best, candidate;
  for (std::size_t i = 1; i < w.size(); ++i) {
    if (!have_build && IsBuildPair(w, i)) {
      build = ComponentFromDigits(w[i + 1]).value;
      have_build = true;
      ++i;
      continue;
    }
    if (ParseVersion(NormaliseVersionWord(w[i]), candidate) &&
        candidate.components.size() >= 2 &&
        candidate.components.size() > best.components.size())
      best = candidate;
  }
  const bool found = best.IsPresent();
  if (found) version = best;
  const VersionComponent build_component{build, 0};
  if (have_build && !version.components.empty() && version.components.size() <= 3 &&
      !(version.components.back() == build_component))
    version.components.push_back(build_component);
  return found;
}

std::string StripVersionFromName(const NameWords& nw, ProgramVersion& version) {
  const WordList& w = nw.words;
  std::size_t n = w.size();
  if (n && EqualsNoCase(w[n - 1], "(remove only)")) --n;
  if (n == 0) return {};

  WordList kept{w[0]};
  bool build_met = false;
  ProgramVersion parsed;
  for (std::size_t i = 1; i < n;) {
    if (!build_met && i + 1 < n && IsBuildPair(w, i)) {
      build_met = true;
      i += 2;
      continue;
    }
    if (i + 1 < n && IsAnyOf(w[i], {"ver", "version", "v"})) {
      if (ParseVersion(w[i + 1], parsed)) {
        if (!version.IsPresent()) version = parsed;
        if (parsed.components.front() == version.components.front()) {
          i += 2;
          continue;
        }
      }
      kept.push_back(w[i++]);
      continue;
    }
    if (ParseVersion(NormaliseVersionWord(w[i]), parsed)) {
      const bool several = parsed.components.size() >= 2;
      const bool same_major =
          version.IsPresent() && parsed.components.front() == version.components.front();
      if (several || same_major) {
        ++i;
        continue;
      }
    }
    kept.push_back(w[i++]);
  }
  return JoinWords(kept);
}

std::string JoinWords(const WordList& words) {
  std::size_t size = words.empty() ? 0 : words.size() - 1;
  for (const std::string& w : words) size += w.size();
  std::string out;
  out.reserve(size);
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i) out += ' ';
    out += words[i];
  }
  return out;
}

int NameSimilarity(const WordList& a, const WordList& b) {
  if (a.empty() || b.empty()) return 0;
  const WordList& longer = a.size() >= b.size() ? a : b;
  const WordList& shorter = a.size() >= b.size() ? b : a;
  const std::uint64_t s = shorter.size();
  const std::uint64_t n = CountCommonWords(shorter, longer);
  if (n == s) {
    const std::uint64_t extra = longer.size() - s;
    return extra >= 100 ? 0 : static_cast<int>(100 - extra);
  }
  // round(100n / (s * m^2)); once the divisor passes 200n the result is 0,
  // which also keeps the products far from overflowing.
  const std::uint64_t m = s - n + 1;
  const std::uint64_t twice = 200 * n;
  std::uint64_t divisor = s * m;
  if (divisor > twice) return 0;
  divisor *= m;
  if (divisor > twice) return 0;
  return static_cast<int>((twice + divisor) / (2 * divisor));
}

void SplitCamelCase(NameWords& nw) {
  WordList out;
  out.reserve(nw.words.size());
  for (std::string& word : nw.words) {
    if (EqualsNoCase(word, "LimeWire") || EqualsNoCase(word, "Lovefilm"))
      out.push_back(std::move(word));
    else
      SplitWord(word, out);
  }
  nw.words = std::move(out);
}

void PublisherKey(NameWords& nw) {
  std::string key;
  for (std::size_t i = 0; i < nw.words.size(); ++i) {
    const std::string& word = nw.words[i];
    if (i > 0 && !word.empty() && (word[0] == '(' || IsAsciiDigit(word[0]))) continue;
    for (std::size_t pos = 0; pos < word.size();) {
      const std::size_t start = pos;
      if (text::IsLetter(text::DecodeNext(word, pos))) key.append(word, start, pos - start);
    }
    // An empty word is no key, not even in first place.
    if (!key.empty()) break;
  }
  nw.words.clear();
  if (!key.empty()) nw.words.push_back(std::move(key));
}

void MatchNameWords::Clean(CleanMode mode) {
  CleanWords(*this, mode);
  std::erase_if(words, [](const std::string& w) { return EqualsNoCase(w, "Uninstall"); });
}

}  // namespace kv::inventory
