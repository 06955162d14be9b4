#pragma once
// Decides, for every uninstall entry, which shortcut of the shortcuts tree
// belongs to it, or that none does.
#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

#include "inventory/names.h"
#include "inventory/shortcuts_tree.h"
#include "inventory/uninstall_scanner.h"

namespace kv::inventory {

// Internal to ShortcutMatcher: its per-node analysis.
namespace matcher_internal {

// What the number check reads from one name.
struct Numbers {
  std::string number;  // largest all-digit word, "" when none
  // The first component of the version found in the uncleaned text, or of
  // the number when there is no version.
  bool has_version = false;
  VersionComponent first;
};
// One name cleaned for matching; words[1] is split at inner capitals.
struct Name {
  WordList words[2];
  WordList removed;
  Numbers numbers;
};
// The analysis of a node's texts. Every entry is searched against the
// whole tree, so it is done once per node and kept with the texts it came
// from: a node whose texts changed is analysed again.
struct NodeNames {
  ShortcutNode* node = nullptr;
  const ShortcutNode* parent = nullptr;  // as the last walk found it
  std::string name;
  Name name_words;
  CommandLine links_to;
  std::string formatted;  // links_to.Format()
  bool has_product = false;
  std::string product, company, description;
  Name product_words;
  WordList product_with_company[2];  // product words plus the company's first word
  bool company_word_added = false;   // false when it was already among them
  WordList description_words[2];
  WordList product_company[2];  // the words of "ProductName CompanyName"
  WordList company_key;
};

// A slot's place in the tree, kept apart from the bulky analysis so that a
// search skims a folder's children cheaply.
struct Place {
  std::size_t parent = 0;  // meaningless for the root
  std::size_t size = 1;    // slots of its subtree, itself included
  unsigned mark = 0;       // the search that may visit it
};

}  // namespace matcher_internal

class ShortcutMatcher {
 public:
  struct Row {
    ShortcutNode* Chosen = nullptr;
    ShortcutNode* Lost = nullptr;
    int Score = 0;
  };

  // The tree's nodes may be changed by matching (a product name replaced by
  // a better file description), so the matcher takes the root mutable.
  explicit ShortcutMatcher(ShortcutNode& root) : root_(root) {}

  // Fills the result table, one row per entry in entry order. The tree may
  // change between calls; nodes whose texts did not change are not analysed
  // again.
  void MatchAll(const std::vector<UninstallEntry>& entries);
  // The node matched to the entry at `index`, or nullptr.
  ShortcutNode* Chosen(std::size_t index) const;
  const std::vector<Row>& rows() const { return rows_; }

  // One entry against the whole tree; sets last_result() and last_score().
  bool MatchEntry(const UninstallEntry& entry, bool split);
  ShortcutNode* last_result() const { return result_; }
  int last_score() const { return score_; }

 private:
  struct Query;  // the entry's words, publisher key and required word

  using NodeNames = matcher_internal::NodeNames;
  // Brings the analysis and the word index up to date with the tree.
  void Prepare();
  void Walk(ShortcutNode& node, const ShortcutNode* parent, std::size_t parent_slot,
            std::vector<NodeNames>& old,
            const std::unordered_map<const ShortcutNode*, std::size_t>& old_slots,
            bool& changed);
  void Index(std::size_t slot);
  bool MatchOne(const UninstallEntry& entry, bool split);
  // The row that holds `node`'s shortcut as Chosen, or nullptr.
  Row* Holder(const ShortcutNode& node);
  // Records that rows_[index] now holds (or no longer holds) `node`.
  void Hold(const ShortcutNode& node, std::size_t index);
  void Release(const ShortcutNode& node);

  ShortcutNode* Search(const Query& q, std::size_t slot, double weight, int parent_likeness,
                       int& score);

  ShortcutNode& root_;
  const ShortcutNode* excluded_ = nullptr;
  ShortcutNode* result_ = nullptr;
  int score_ = 0;
  std::vector<Row> rows_;
  // The rows' Chosen shortcuts by target (folded path and arguments), or by
  // node for a shortcut without a target: the same test as SameShortcut,
  // without walking every row for every entry.
  std::unordered_map<std::string, std::size_t> held_;
  // The tree in pre-order, one slot per node, so that a search walks it
  // without lookups; slot_of_ finds a node's slot again on the next Prepare.
  std::vector<NodeNames> slots_;
  std::vector<matcher_internal::Place> places_;
  std::unordered_map<const ShortcutNode*, std::size_t> slot_of_;
  // Folded word -> the slots of the shortcuts that have it in any of their
  // word lists, one index per camel-case mode. A search visits only these
  // shortcuts and their folders: a shortcut sharing no word with the entry
  // scores 0 (or a negative veto) and can never be chosen.
  std::unordered_map<std::u32string, std::vector<std::size_t>> index_[2];
  unsigned stamp_ = 0;
};

}  // namespace kv::inventory
