#pragma once
// Decides, for every uninstall entry, which shortcut of the shortcuts tree
// belongs to it, or that none does.
#include <cstddef>
#include <vector>

#include "inventory/names.h"
#include "inventory/shortcuts_tree.h"
#include "inventory/uninstall_scanner.h"

namespace kv::inventory {

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

  // Fills the result table, one row per entry in entry order.
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
  ShortcutNode* Search(const Query& q, ShortcutNode& node, double weight, int parent_likeness,
                       int& score);

  ShortcutNode& root_;
  const ShortcutNode* excluded_ = nullptr;
  ShortcutNode* result_ = nullptr;
  int score_ = 0;
  std::vector<Row> rows_;
};

}  // namespace kv::inventory
