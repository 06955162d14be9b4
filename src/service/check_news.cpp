#include "service/check_news.h"

namespace kv::service {

std::vector<NewsItem> ReadNewsItems(const store::XmlElement& latest_news) {
  std::vector<NewsItem> out;
  for (const store::XmlElement n : latest_news.Children()) {
    out.push_back({n.Text(), n.AttributeNoCase("Date").value_or(""),
                   n.AttributeNoCase("Url").value_or("")});
  }
  return out;
}

void NewsInbox::TakeNews(const store::XmlElement& latest_news) {
  std::vector<NewsItem> items = ReadNewsItems(latest_news);
  std::lock_guard lock(mutex_);
  items_.insert(items_.end(), items.begin(), items.end());
}

std::vector<NewsItem> NewsInbox::items() const {
  std::lock_guard lock(mutex_);
  return items_;
}

}  // namespace kv::service
