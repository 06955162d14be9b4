#pragma once
// Where the site news of a check go. The notification history takes them
// once it exists; until then they are held in memory.
#include <mutex>
#include <string>
#include <vector>

#include "store/xml_store.h"

namespace kv::service {

struct NewsItem {
  std::string title;
  std::string date;
  std::string url;
  bool operator==(const NewsItem&) const = default;
};

class NewsSink {
 public:
  virtual ~NewsSink() = default;
  // A check's `LatestNews` element.
  virtual void TakeNews(const store::XmlElement& latest_news) = 0;
};

// Reads every child of `LatestNews` as an item: its text, `Date` and `Url`.
std::vector<NewsItem> ReadNewsItems(const store::XmlElement& latest_news);

// Keeps what checks sent, oldest first.
class NewsInbox final : public NewsSink {
 public:
  void TakeNews(const store::XmlElement& latest_news) override;
  std::vector<NewsItem> items() const;

 private:
  mutable std::mutex mutex_;
  std::vector<NewsItem> items_;
};

}  // namespace kv::service
