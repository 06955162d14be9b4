#include "service/comment_queue.h"

#include "store/xml_store.h"
#include "store/xml_writer.h"
#include "text/compare.h"

namespace kv::service {

std::string WithCrLfLineEnds(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 16);
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\r\n";
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

void CommentQueue::Load() {
  // Comments not yet on disk are not thrown away for an older file.
  if (changed_) return;
  items_.clear();
  changed_ = false;
  auto doc = store::LoadStore(folder_, kCommentsFile);
  if (!doc) return;
  const auto root = doc->Find("SoftwareComments");
  if (!root) return;
  for (const store::XmlElement item : root->Children()) {
    if (!item.NameIs("Item")) continue;
    QueuedComment c;
    store::ReadFields(item, {{"Id", &c.Id}, {"Comment", &c.Comment}});
    if (c.Id.empty()) continue;  // nothing could send it
    c.Comment = WithCrLfLineEnds(c.Comment);
    // One per program, as Put keeps it; the later text wins.
    if (const int i = Find(c.Id); i >= 0) items_[static_cast<std::size_t>(i)] = std::move(c);
    else items_.push_back(std::move(c));
  }
}

platform::Status CommentQueue::Save() {
  platform::Status saved = store::SaveStore(folder_, kCommentsFile, [this](store::XmlWriter& w) {
    w.Open("", "SoftwareComments");
    for (const QueuedComment& c : items_) {
      w.Open(" ", "Item");
      w.Text("  ", "Id", c.Id);
      w.Text("  ", "Comment", c.Comment);
      w.Close(" ", "Item");
    }
    w.Close("", "SoftwareComments");
  });
  changed_ = !saved;
  return saved;
}

void CommentQueue::SaveIfChanged() {
  if (changed_) Save().IgnoreError();
}

int CommentQueue::Find(std::string_view global_id) const {
  for (std::size_t i = 0; i < items_.size(); ++i) {
    if (text::EqualsNoCase(items_[i].Id, global_id)) return static_cast<int>(i);
  }
  return -1;
}

void CommentQueue::Put(std::string_view global_id, std::string_view comment) {
  changed_ = true;
  if (const int i = Find(global_id); i >= 0) {
    items_[static_cast<std::size_t>(i)].Comment = WithCrLfLineEnds(comment);
    return;
  }
  items_.push_back({std::string(global_id), WithCrLfLineEnds(comment)});
}

void CommentQueue::RemoveAt(std::size_t index) {
  if (index >= items_.size()) return;
  items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
  changed_ = true;
}

}  // namespace kv::service
