#pragma once
// Comments the user wrote, waiting for the next check to send them; kept in
// "comments.xml" so that none is lost when the client ends first. One per
// program: writing again replaces the text. Not locked itself: the software
// list that owns it guards it with its own lock.
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "app/data_folder.h"
#include "platform/status.h"

namespace kv::service {

struct QueuedComment {
  std::string Id;       // the program's GlobalId
  std::string Comment;  // lines separated by CR LF

  bool operator==(const QueuedComment&) const = default;
};

inline constexpr char kCommentsFile[] = "comments.xml";

class CommentQueue {
 public:
  explicit CommentQueue(app::DataFolder& data_folder) : folder_(data_folder) {}

  // Replaces the queue with "comments.xml" (or its ".bak"); line feeds read
  // back as CR LF. A missing or broken file leaves the queue empty; a queue
  // with unsaved changes is kept as it is.
  void Load();
  // Writes the queue through the ".bak" sequence. A failed save is tried
  // again by the next SaveIfChanged.
  platform::Status Save();
  // Saves when the queue changed since the last good save.
  void SaveIfChanged();

  // Index of the comment for `global_id` (without regard to case), or -1.
  int Find(std::string_view global_id) const;
  // Replaces the program's queued text, or queues a new comment at the end.
  void Put(std::string_view global_id, std::string_view comment);
  void RemoveAt(std::size_t index);

  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  const QueuedComment& at(std::size_t index) const { return items_.at(index); }
  const std::vector<QueuedComment>& items() const { return items_; }

 private:
  app::DataFolder& folder_;
  std::vector<QueuedComment> items_;
  bool changed_ = false;
};

// `text` with every line end (LF, CR LF or a lone CR) as CR LF.
std::string WithCrLfLineEnds(std::string_view text);

}  // namespace kv::service
