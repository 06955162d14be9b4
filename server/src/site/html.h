#pragma once
// The site's HTML: escaping and the one layout every page shares. Pages are
// plain HTML with a small stylesheet and work without JavaScript.
#include <string>
#include <string_view>

namespace kv::server {

// Text safe inside an element or a quoted attribute: & < > " ' escaped.
std::string HtmlEscape(std::string_view text);
// A query value: everything but unreserved characters as %XX.
std::string UrlEncode(std::string_view text);

// A whole document: `title` is text (escaped here), `body` is HTML that the
// caller built from escaped parts.
std::string HtmlPage(std::string_view title, std::string_view body);

// Served at /style.css.
std::string_view SiteStylesheet();

}  // namespace kv::server
