#include "site/html.h"

namespace kv::server {

std::string HtmlEscape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
  return out;
}

std::string UrlEncode(std::string_view text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto b = static_cast<unsigned char>(c);
    if ((b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') || (b >= '0' && b <= '9') || c == '-' ||
        c == '_' || c == '.' || c == '~') {
      out += c;
    } else {
      out += '%';
      out += kHex[b >> 4];
      out += kHex[b & 15];
    }
  }
  return out;
}

std::string HtmlPage(std::string_view title, std::string_view body) {
  std::string out =
      "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n"
      "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">\n<title>";
  out += HtmlEscape(title);
  out += " - Korvan</title>\n<link rel=\"stylesheet\" href=\"/style.css\">\n</head>\n<body>\n"
         "<header><a href=\"/\">Korvan</a>"
         "<form action=\"/search/\" method=\"get\"><input name=\"search\" aria-label=\"Search\">"
         "<button>Search</button></form></header>\n<main>\n<h1>";
  out += HtmlEscape(title);
  out += "</h1>\n";
  out += body;
  out += "\n</main>\n</body>\n</html>\n";
  return out;
}

std::string_view SiteStylesheet() {
  return "body{font-family:sans-serif;max-width:50em;margin:0 auto;padding:0 1em;color:#222}\n"
         "header{display:flex;justify-content:space-between;align-items:center;"
         "border-bottom:1px solid #ccc;padding:.5em 0}\n"
         "header>a{font-weight:bold;font-size:1.3em;text-decoration:none}\n"
         "table{border-collapse:collapse}td,th{padding:.2em .6em;text-align:left;"
         "border-bottom:1px solid #eee}\n"
         ".old{color:#b00;font-weight:bold}\n"
         ".comment{white-space:pre-wrap;border-left:3px solid #ccc;padding-left:.6em}\n"
         "label{display:block;margin:.5em 0}textarea{width:100%;height:10em}\n";
}

}  // namespace kv::server
