#include "inventory/shortcut_matcher.h"

#include <algorithm>
#include <cstdint>
#include <string_view>
#include <utility>

#include "text/chars.h"
#include "text/compare.h"
#include "text/utf8.h"

namespace kv::inventory {
namespace {

using matcher_internal::Name;
using matcher_internal::NodeNames;
using matcher_internal::Numbers;
using text::EqualsNoCase;
using text::StartsWithNoCase;

constexpr std::string_view kAvira = "Avira AntiVir Personal";
constexpr std::string_view kToolbar = "Toolbar";

bool IsAllDigits(std::string_view s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Numeric order of digit strings of any length (no overflow, "007" == "7").
int CompareNumbers(std::string_view a, std::string_view b) {
  a.remove_prefix(std::min(a.find_first_not_of('0'), a.size()));
  b.remove_prefix(std::min(b.find_first_not_of('0'), b.size()));
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b);
}

// The largest all-digit word, taken among the removed words when there are
// any (the cleaning moves version numbers there), else among the words.
std::string LargestNumber(const NameWords& w) {
  const WordList& list = w.removed.empty() ? w.words : w.removed;
  std::string best;
  for (const std::string& word : list)
    if (IsAllDigits(word) && (best.empty() || CompareNumbers(word, best) > 0)) best = word;
  return best;
}

bool Contains(const WordList& words, std::string_view word) {
  return std::any_of(words.begin(), words.end(),
                     [&](const std::string& w) { return EqualsNoCase(w, word); });
}



Numbers NumbersOf(const NameWords& cleaned, std::string_view text) {
  Numbers n;
  n.number = LargestNumber(cleaned);
  ProgramVersion version;
  FindVersionInName(Tokenize(text), version);
  if (version.IsPresent()) {
    n.has_version = true;
    n.first = version.components.front();
  } else if (!n.number.empty()) {
    n.has_version = true;
    n.first = ComponentFromDigits(n.number);
  }
  return n;
}

// False when the numbers or, failing that, the versions of two names
// contradict each other ('Foo Player 2003' against 'Foo Player 2007').
bool NumbersAgree(const Numbers& a, const Numbers& b) {
  if (!a.number.empty() && !b.number.empty()) return CompareNumbers(a.number, b.number) == 0;
  // Also when neither side has a number: 'Foo 2.0' is not 'Foo 3.1' either.
  return !a.has_version || !b.has_version || a.first == b.first;
}

Name Analyse(std::string_view text) {
  ProgramNameWords w(text, CleanMode::kMatch);
  Name out;
  out.numbers = NumbersOf(w, text);
  out.removed = w.removed;
  out.words[0] = w.words;
  w.SplitCamelCase();
  out.words[1] = std::move(w.words);
  return out;
}

void CleanedWords(std::string_view text, WordList (&out)[2]) {
  ProgramNameWords w(text, CleanMode::kMatch);
  out[0] = w.words;
  w.SplitCamelCase();
  out[1] = std::move(w.words);
}

bool StillValid(const NodeNames& n, const ShortcutNode& node, const ShortcutNode* parent) {
  const FileVersionInfo* bin = node.Binary.get();
  const bool has_product = bin && !bin->ProductName.empty();
  return n.parent == parent && n.name == node.Name && n.links_to == node.LinksTo &&
         n.has_product == has_product &&
         (!has_product || (n.product == bin->ProductName && n.company == bin->CompanyName &&
                           n.description == bin->FileDescription));
}

NodeNames AnalyseNode(ShortcutNode& node, const ShortcutNode* parent) {
  NodeNames n;
  n.node = &node;
  n.parent = parent;
  n.name = node.Name;
  n.name_words = Analyse(node.Name);
  n.links_to = node.LinksTo;
  n.formatted = node.LinksTo.Format();
  const FileVersionInfo* bin = node.Binary.get();
  n.has_product = bin && !bin->ProductName.empty();
  if (!n.has_product) return n;

  n.product = bin->ProductName;
  n.company = bin->CompanyName;
  n.description = bin->FileDescription;
  n.product_words = Analyse(n.product);
  const ProgramNameWords company(n.company, CleanMode::kMatch);
  for (int split = 0; split < 2; ++split) {
    WordList& with = n.product_with_company[split];
    with = n.product_words.words[split];
    if (!company.words.empty() && !Contains(with, company.words.front())) {
      with.push_back(company.words.front());
      n.company_word_added = true;
    }
  }
  CleanedWords(n.description, n.description_words);
  CleanedWords(n.product + " " + n.company, n.product_company);
  n.company_key = PublisherWords(n.company).words;
  return n;
}

}  // namespace

struct ShortcutMatcher::Query {
  bool split = false;
  WordList words;
  WordList removed;
  Numbers numbers;
  WordList publisher;  // the key word, or empty
  bool need_toolbar = false;
  std::string_view install_location;
};

void ShortcutMatcher::Prepare() {
  std::vector<NodeNames> old;
  old.swap(slots_);
  places_.clear();
  std::unordered_map<const ShortcutNode*, std::size_t> old_slots;
  old_slots.swap(slot_of_);
  slots_.reserve(old.size());
  places_.reserve(old.size());
  bool changed = false;
  Walk(root_, nullptr, 0, old, old_slots, changed);
  if (!changed && slots_.size() == old.size()) return;  // the index still holds
  for (auto& index : index_) index.clear();
  for (std::size_t slot = 0; slot < slots_.size(); ++slot) Index(slot);
}

void ShortcutMatcher::Walk(ShortcutNode& node, const ShortcutNode* parent,
                           std::size_t parent_slot, std::vector<NodeNames>& old,
                           const std::unordered_map<const ShortcutNode*, std::size_t>& old_slots,
                           bool& changed) {
  const std::size_t at = slots_.size();
  const auto it = old_slots.find(&node);
  if (it != old_slots.end() && StillValid(old[it->second], node, parent)) {
    slots_.push_back(std::move(old[it->second]));
    if (it->second != at) changed = true;
  } else {
    slots_.push_back(AnalyseNode(node, parent));
    changed = true;
  }
  places_.push_back({parent_slot, 1, 0});
  slot_of_[&node] = at;
  for (const auto& child : node.children) Walk(*child, &node, at, old, old_slots, changed);
  places_[at].size = slots_.size() - at;
}

void ShortcutMatcher::Index(std::size_t slot) {
  const NodeNames& n = slots_[slot];
  if (slot == 0 || n.node->IsFolder) return;  // only shortcuts are candidates
  for (int split = 0; split < 2; ++split) {
    for (const WordList* list : {&n.name_words.words[split], &n.product_with_company[split],
                                 &n.description_words[split], &n.product_company[split]}) {
      for (const std::string& word : *list) {
        std::vector<std::size_t>& slots = index_[split][text::FoldCase(word)];
        if (slots.empty() || slots.back() != slot) slots.push_back(slot);
      }
    }
  }
}

namespace {

std::string HoldKey(const ShortcutNode& node) {
  if (node.LinksTo.Path.empty()) return "N" + std::to_string(reinterpret_cast<std::uintptr_t>(&node));
  return "T" + text::ToUpper(node.LinksTo.Path) + '\n' + text::ToUpper(node.LinksTo.Arguments);
}

}  // namespace

ShortcutMatcher::Row* ShortcutMatcher::Holder(const ShortcutNode& node) {
  auto it = held_.find(HoldKey(node));
  return it == held_.end() ? nullptr : &rows_[it->second];
}

void ShortcutMatcher::Hold(const ShortcutNode& node, std::size_t index) {
  held_[HoldKey(node)] = index;
}

void ShortcutMatcher::Release(const ShortcutNode& node) { held_.erase(HoldKey(node)); }

ShortcutNode* ShortcutMatcher::Chosen(std::size_t index) const {
  return index < rows_.size() ? rows_[index].Chosen : nullptr;
}

bool ShortcutMatcher::MatchEntry(const UninstallEntry& entry, bool split) {
  Prepare();
  return MatchOne(entry, split);
}

bool ShortcutMatcher::MatchOne(const UninstallEntry& entry, bool split) {
  result_ = nullptr;
  score_ = 0;

  const std::string_view display =
      StartsWithNoCase(entry.DisplayName, kAvira) ? kAvira : std::string_view(entry.DisplayName);
  MatchNameWords n(display, CleanMode::kMatch);
  Query q;
  q.split = split;
  q.numbers = NumbersOf(n, display);
  if (split) n.SplitCamelCase();
  q.words = std::move(n.words);
  q.removed = std::move(n.removed);
  q.publisher = PublisherWords(entry.Publisher).words;
  q.need_toolbar = Contains(q.words, kToolbar);
  q.install_location = entry.InstallLocation;

  // Marks the shortcuts that share a word with the entry, and their folders.
  if (++stamp_ == 0) {
    for (matcher_internal::Place& place : places_) place.mark = 0;
    stamp_ = 1;
  }
  for (const std::string& word : q.words) {
    const auto hit = index_[split].find(text::FoldCase(word));
    if (hit == index_[split].end()) continue;
    for (std::size_t slot : hit->second) {
      while (places_[slot].mark != stamp_) {
        places_[slot].mark = stamp_;
        if (slot == 0) break;
        slot = places_[slot].parent;
      }
    }
  }

  int score = 0;
  result_ = Search(q, 0, 0.5, 0, score);
  score_ = score;
  return result_ != nullptr;
}

ShortcutNode* ShortcutMatcher::Search(const Query& q, std::size_t slot, double weight,
                                      int parent_likeness, int& score) {
  const NodeNames& names = slots_[slot];
  ShortcutNode& node = *names.node;
  if (&node == excluded_ || places_[slot].mark != stamp_) return nullptr;
  const WordList& w = names.name_words.words[q.split];
  if (!NumbersAgree(q.numbers, names.name_words.numbers)) return nullptr;

  const bool is_root = slot == 0;
  int likeness = 0;
  int removed_likeness = 0;
  // Only the top level of folders says what its shortcuts are.
  if (!is_root && !(node.IsFolder && weight > 1.0)) {
    likeness = NameSimilarity(q.words, w);
    removed_likeness = NameSimilarity(q.removed, names.name_words.removed);
  }
  bool word_found = !q.need_toolbar || Contains(w, kToolbar);

  if (is_root || node.IsFolder) {
    ShortcutNode* best = nullptr;
    const ShortcutNode* best_child = nullptr;
    int best_score = -1;
    const std::size_t end = slot + places_[slot].size;
    for (std::size_t child = slot + 1; child < end; child += places_[child].size) {
      if (places_[child].mark != stamp_) continue;  // shares no word with the entry
      const ShortcutNode& child_node = *slots_[child].node;
      int child_score = 0;
      ShortcutNode* found = Search(q, child, child_node.IsFolder ? weight * 2 : weight,
                                   likeness, child_score);
      // Only a child that found a node competes: a folder named like the
      // program but without a match inside must not displace a real match.
      if (!found) continue;
      if (child_score > best_score ||
          (child_score == best_score && child_score > 0 &&
           text::CountChars(child_node.Name) < text::CountChars(best_child->Name))) {
        best = found;
        best_child = &child_node;
        best_score = child_score;
      }
    }
    score = static_cast<int>(likeness / weight + (best ? best_score : 0));
    return best;
  }

  if (node.Uninstaller) return nullptr;

  // A target outside the program's install folder belongs to another
  // program, unless the shortcut has exactly the program's name.
  if (!q.install_location.empty() && likeness != 100 &&
      !StartsWithNoCase(node.LinksTo.Path, q.install_location) &&
      !StartsWithNoCase(names.formatted, q.install_location))
    return nullptr;

  int product = 0;
  int product_removed = 0;
  bool rewritten = false;
  if (names.has_product) {
    const Name& pn = names.product_words;
    const WordList& pw = pn.words[q.split];
    if (!NumbersAgree(q.numbers, pn.numbers)) return nullptr;
    if (!word_found) word_found = Contains(pw, kToolbar);
    product = NameSimilarity(q.words, pw);
    product_removed = NameSimilarity(q.removed, pn.removed);
    if (product == 100) {
      product = 900;
    } else {
      if (names.company_word_added) {
        const int with_company = NameSimilarity(q.words, names.product_with_company[q.split]);
        if (with_company > product && with_company > 98) product = with_company;
      }
      const int description = NameSimilarity(q.words, names.description_words[q.split]);
      if (description > product) {
        product = description;
        rewritten = description == 100;
      }
      if (product == 100) {
        product = 900;
      } else if (!names.company.empty() && !q.publisher.empty() &&
                 NameSimilarity(q.publisher, names.company_key) != 100 && product < 99 &&
                 NameSimilarity(q.words, names.product_company[q.split]) < 99) {
        product = -900;  // another publisher's program
      }
    }
  } else {
    product = likeness == 100 ? 100 : 0;
  }
  if (rewritten) {
    // Later readers (the inventory's record) see the better name. `names`
    // is replaced here and not read again.
    node.Binary->ProductName = node.Binary->FileDescription;
    slots_[slot] = AnalyseNode(node, names.parent);
    Index(slot);
  }

  if (!word_found) return nullptr;

  int total = static_cast<int>(likeness / weight + product);
  if (total == 0) return nullptr;
  const int removed_total = static_cast<int>(removed_likeness / weight + product_removed);
  if (removed_total > 70)
    total += 3;
  else if (removed_total > 30)
    total += 2;
  else if (removed_total < 0)
    total -= 100;

  if (product >= 99 || likeness >= 97 || parent_likeness >= 97) {
    score = total;
    return &node;
  }
  score = 0;
  return nullptr;
}

void ShortcutMatcher::MatchAll(const std::vector<UninstallEntry>& entries) {
  excluded_ = nullptr;
  rows_.clear();
  held_.clear();
  rows_.reserve(entries.size());
  Prepare();
  const auto match = [this](const UninstallEntry& entry) {
    if (!MatchOne(entry, false)) MatchOne(entry, true);
  };

  for (const UninstallEntry& entry : entries) {
    match(entry);
    Row row;
    row.Score = score_;
    if (result_) {
      if (Row* holder = Holder(*result_)) {
        if (holder->Score < score_) {
          Release(*holder->Chosen);
          holder->Lost = holder->Chosen;
          holder->Chosen = nullptr;
          row.Chosen = result_;
        } else {
          row.Lost = result_;  // equal scores: the earlier entry keeps it
        }
      } else {
        row.Chosen = result_;
      }
    }
    if (row.Chosen) Hold(*row.Chosen, rows_.size());
    rows_.push_back(row);
  }

  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (!rows_[i].Lost) continue;
    excluded_ = rows_[i].Lost;
    match(entries[i]);
    // Another copy of a shortcut that some row holds (the desktop twin of a
    // Start-menu shortcut) is still that shortcut.
    if (result_ && Holder(*result_)) {
      rows_[i].Chosen = nullptr;
      rows_[i].Lost = nullptr;
    } else {
      rows_[i].Chosen = result_;
      if (result_) Hold(*result_, i);
    }
  }
  excluded_ = nullptr;
}

}  // namespace kv::inventory
