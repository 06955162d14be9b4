#pragma once
// Program names: the words of a display, product or shortcut name, the
// cleaning that leaves the words that name the program, and the likeness
// measure that decides whether two names denote the same program.
#include <string>
#include <string_view>
#include <vector>

#include "inventory/version.h"

namespace kv::inventory {

using WordList = std::vector<std::string>;

struct NameWords {
  std::string original;
  WordList words;
  WordList removed;  // what the cleaning took out, in order of removal
};

enum class CleanMode {
  kName = 0,   // names from the uninstall entry and the version resource
  kMatch = 1,  // names for matching and for release detection
};

// Splits at blanks; a bracketed group, blanks included, is one word.
NameWords Tokenize(std::string_view text);

// Removes brackets, stop words, licence phrases, build numbers and version
// words, and keeps only letters, digits, "+" and "-" of what remains.
void CleanWords(NameWords& words, CleanMode mode);

// Searches the words for a version (and a "build N" pair); updates `version`.
// True when the name itself holds a version of two or more components.
bool FindVersionInName(const NameWords& words, ProgramVersion& version);

// The name without the version words that match `version`; fills `version`
// from a "Version X" pair when it is still empty.
std::string StripVersionFromName(const NameWords& words, ProgramVersion& version);

std::string JoinWords(const WordList& words);

// Likeness percentage, 0 to 100; above 98 counts as the same name.
int NameSimilarity(const WordList& a, const WordList& b);

// Cuts words at inner capitals ("FooRAR" gives "Foo", "RAR"); matching only.
void SplitCamelCase(NameWords& words);

// Reduces a publisher's words to its key word ("Acme Systems Inc." gives "Acme").
void PublisherKey(NameWords& words);

class ProgramNameWords : public NameWords {
 public:
  ProgramNameWords() = default;
  explicit ProgramNameWords(std::string_view text) : NameWords(Tokenize(text)) {}
  ProgramNameWords(std::string_view text, CleanMode mode) : ProgramNameWords(text) {
    Clean(mode);
  }
  virtual ~ProgramNameWords() = default;

  virtual void Clean(CleanMode mode) { CleanWords(*this, mode); }
  void SplitCamelCase() { inventory::SplitCamelCase(*this); }
  bool FindVersion(ProgramVersion& version) const { return FindVersionInName(*this, version); }
  std::string StripVersion(ProgramVersion& version) const {
    return StripVersionFromName(*this, version);
  }
  std::string Join() const { return JoinWords(words); }
};

// Words for matching an uninstall entry to a shortcut: the cleaning also
// drops every "Uninstall", which says nothing about the program.
class MatchNameWords : public ProgramNameWords {
 public:
  MatchNameWords() = default;
  explicit MatchNameWords(std::string_view text) : ProgramNameWords(text) {}
  MatchNameWords(std::string_view text, CleanMode mode) : ProgramNameWords(text) { Clean(mode); }

  void Clean(CleanMode mode) override;
};

class PublisherWords : public NameWords {
 public:
  PublisherWords() = default;
  explicit PublisherWords(std::string_view text) : NameWords(Tokenize(text)) {
    PublisherKey(*this);
  }
  // The key word, or "" when the publisher has none.
  std::string Key() const { return words.empty() ? std::string() : words.front(); }
};

}  // namespace kv::inventory
