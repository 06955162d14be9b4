#include "site/site_pages.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <charconv>
#include <ctime>
#include <memory>
#include <stdexcept>

#include "catalogue/program_key.h"
#include "site/html.h"

namespace kv::server {
namespace {

// How much one page lists and one form keeps.
constexpr std::size_t kListLimit = 100;
constexpr std::size_t kCommentsOnPage = 50;
constexpr std::size_t kMaxSearch = 100;
constexpr std::size_t kMaxKind = 20;
constexpr std::size_t kMaxEmail = 200;
constexpr std::size_t kMaxReport = 10000;

std::string Lower(std::string_view text) {
  std::string out(text);
  std::transform(out.begin(), out.end(), out.begin(),
                 [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
  return out;
}

std::string Trim(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return std::string(text);
}

std::string Date(std::int64_t seconds) {
  const std::time_t t = static_cast<std::time_t>(seconds);
  std::tm utc{};
  gmtime_r(&t, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%d", &utc);
  return text;
}

SitePages::Page Html(int status, std::string_view title, std::string_view body) {
  return {status, HtmlPage(title, body)};
}
SitePages::Page NotFound() {
  return Html(404, "Not found", "<p>There is no such page.</p><p><a href=\"/\">Home</a></p>");
}
SitePages::Page Unavailable() {
  return Html(503, "Unavailable", "<p>The site cannot answer just now. Please try again later.</p>");
}

// A failed statement shows as an error page, never as an empty list.
struct StorageFailure : std::runtime_error {
  StorageFailure() : std::runtime_error("storage") {}
};
void Check(Transaction& tx) {
  if (!tx.status()) throw StorageFailure();
}

std::string LatestStable(const Program& p, const ProgramStats& s) {
  return !p.stable_version.empty() ? p.stable_version : s.learned_stable;
}
std::string LatestBeta(const Program& p, const ProgramStats& s) {
  return !p.beta_version.empty() ? p.beta_version : s.learned_beta;
}
std::string OrDash(const std::string& text) { return text.empty() ? "&ndash;" : HtmlEscape(text); }

std::string BugReportForm(std::string_view kind, std::string_view message = {}) {
  std::string body;
  if (!message.empty()) body += "<p class=\"old\">" + HtmlEscape(message) + "</p>";
  body += "<form action=\"/bug_report.php\" method=\"post\">"
          "<input type=\"hidden\" name=\"type\" value=\"" + HtmlEscape(kind) + "\">"
          "<label>Your e-mail (optional) <input type=\"email\" name=\"email\" maxlength=\"200\"></label>"
          "<label>What went wrong? <textarea name=\"text\" maxlength=\"10000\" required></textarea></label>"
          "<button>Send</button></form>";
  return body;
}

std::string ReminderForm(std::string_view message = {}) {
  std::string body;
  if (!message.empty()) body += "<p>" + HtmlEscape(message) + "</p>";
  body += "<form action=\"/remind/\" method=\"post\">"
          "<label>The e-mail address of your account <input type=\"email\" name=\"email\" "
          "maxlength=\"200\" required></label><button>Remind me</button></form>";
  return body;
}

// A form kind from a query or a post: letters, digits and "_" only.
std::string Kind(std::string_view text) {
  std::string out;
  for (const char c : text.substr(0, kMaxKind)) {
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') out += c;
  }
  return out.empty() ? "site" : out;
}

}  // namespace

SitePages::SitePages(Storage& storage, Credentials& credentials, const ServiceOptions& options,
                     Clock clock)
    : storage_(storage),
      credentials_(credentials),
      clock_(clock ? std::move(clock) : Clock([] { return std::int64_t(std::time(nullptr)); })),
      failed_sign_ins_(storage, "site_sign_in", options.failed_sign_ins_per_minute, 60),
      form_posts_(storage, "site_form", options.new_accounts_per_minute, 60) {
  std::string_view origin = options.site_origin;
  const std::size_t scheme_end = origin.find("://");
  scheme_ = scheme_end == std::string_view::npos ? "http" : std::string(origin.substr(0, scheme_end));
  if (scheme_end != std::string_view::npos) origin.remove_prefix(scheme_end + 3);
  site_host_ = Lower(origin.substr(0, origin.find('/')));
}

std::string SitePages::ProgramUrl(const std::string& short_name) const {
  return scheme_ + "://" + UrlEncode(short_name) + "." + site_host_ + "/";
}

void SitePages::Register(FrontEnd& front_end) {
  const auto send = [](httplib::Response& res, const Page& page) {
    res.status = page.status;
    res.set_content(page.html, "text/html; charset=utf-8");
  };
  front_end.Post("/bug_report\\.php", [this, send](const httplib::Request& req, const Form* form,
                                                   httplib::Response& res) {
    send(res, BugReportPost(req, form));
  });
  front_end.Post("/remind/", [this, send](const httplib::Request& req, const Form* form,
                                          httplib::Response& res) {
    send(res, ReminderPost(req, form));
  });
  front_end.Get("/style\\.css", [](const httplib::Request&, httplib::Response& res) {
    res.set_header("Cache-Control", "max-age=3600");
    res.set_content(std::string(SiteStylesheet()), "text/css; charset=utf-8");
  });
  front_end.Get(".*", [this, send](const httplib::Request& req, httplib::Response& res) {
    send(res, Get(req));
  });
}

SitePages::Page SitePages::Get(const httplib::Request& req) {
  auto begun = storage_.Begin(false);
  if (!begun) return Unavailable();
  Transaction& tx = *begun;
  try {
    const std::string host = Lower(req.get_header_value("Host"));
    const std::string suffix = "." + site_host_;
    if (host.size() > suffix.size() && host.ends_with(suffix)) {
      const std::string label = host.substr(0, host.size() - suffix.size());
      if (label.find('.') != std::string::npos) return NotFound();
      const auto program = tx.FindProgramByShortName(label);
      Check(tx);
      if (program) return ProgramSite(tx, *program, req.path);
      return PublisherSite(tx, label, req.path);
    }

    const std::string& path = req.path;
    if (path == "/") return Home(tx);
    if (path == "/search/") {
      return Search(tx, Trim(req.get_param_value("search")).substr(0, kMaxSearch));
    }
    if (path.starts_with("/user/")) {
      // "/user/<id>/" and its "updates/", "comments/", "questions/".
      const std::string_view rest = std::string_view(path).substr(6);
      Id id = 0;
      const auto [end, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), id);
      const std::string section(end, rest.data() + rest.size());
      if (ec != std::errc() || id <= 0) return NotFound();
      if (section != "/" && section != "/updates/" && section != "/comments/" && section != "/questions/")
        return NotFound();
      return UserPage(tx, id, section, req);
    }
    if (path == "/uninstalled.php") {
      return Html(200, "Thank you",
                  "<p>Korvan has been removed. Thank you for having used it.</p>"
                  "<p>If something made you leave, or did not work, please "
                  "<a href=\"/bug_report.php?type=uninstall\">tell us what went wrong</a>.</p>");
    }
    if (path == "/bug_report.php") {
      return Html(200, "Report a problem", BugReportForm(Kind(req.get_param_value("type"))));
    }
    if (path == "/remind/" || path == "/sendpassword.php") return Html(200, "Forgot your password?", ReminderForm());
    return NotFound();
  } catch (const StorageFailure&) {
    return Unavailable();
  }
}

SitePages::Page SitePages::ProgramSite(Transaction& tx, const Program& p, const std::string& path) {
  const ProgramStats stats = tx.StatsOf(p.id).value_or(ProgramStats{});
  Check(tx);
  const ProgramCounters& c = stats.counters;
  std::string nav = "<p><a href=\"/\">Overview</a> &middot; <a href=\"/comments/\">Comments (" +
                    std::to_string(c.comments) + ")</a> &middot; <a href=\"/users/\">Users</a> &middot; "
                    "<a href=\"/questions/\">Questions</a></p>";
  const auto comments = [&](std::size_t limit) {
    const auto list = tx.CommentsOn(p.id, limit);
    Check(tx);
    if (list.empty()) return std::string("<p>No comments yet.</p>");
    std::string out;
    for (const Comment& comment : list) {
      out += "<p><small>" + Date(comment.created_at) + "</small></p><div class=\"comment\">" +
             HtmlEscape(comment.text) + "</div>";
    }
    return out;
  };

  if (path == "/") {
    std::string body = nav + "<table>";
    body += "<tr><th>Publisher</th><td>";
    if (!p.publisher_short.empty()) {
      body += "<a href=\"" + HtmlEscape(ProgramUrl(p.publisher_short)) + "\">" +
              HtmlEscape(p.publisher.empty() ? p.publisher_short : p.publisher) + "</a>";
    } else {
      body += OrDash(p.publisher);
    }
    body += "</td></tr>";
    if (!p.home_page.empty() &&
        (p.home_page.starts_with("http://") || p.home_page.starts_with("https://"))) {
      body += "<tr><th>Home page</th><td><a href=\"" + HtmlEscape(p.home_page) + "\" rel=\"nofollow\">" +
              HtmlEscape(p.home_page) + "</a></td></tr>";
    }
    body += "<tr><th>Latest stable</th><td>" + OrDash(LatestStable(p, stats)) + "</td></tr>";
    body += "<tr><th>Latest beta</th><td>" + OrDash(LatestBeta(p, stats)) + "</td></tr>";
    body += "<tr><th>Users</th><td>" + std::to_string(c.users) + "</td></tr>";
    body += "<tr><th>Rating</th><td>";
    if (c.ratings > 0) {
      char avg[32];
      std::snprintf(avg, sizeof avg, "%.1f", static_cast<double>(c.rating_sum) / static_cast<double>(c.ratings));
      body += std::string(avg) + " of 5 (" + std::to_string(c.ratings) + " ratings)";
    } else {
      body += "not rated yet";
    }
    body += "</td></tr></table><h2>Comments</h2>" + comments(10);
    body += "<h2>Questions</h2><p>No questions yet.</p>";
    return Html(200, p.name, body);
  }
  if (path == "/comments/") return Html(200, p.name + ": comments", nav + comments(kListLimit));
  if (path == "/questions/") return Html(200, p.name + ": questions", nav + "<p>No questions yet.</p>");
  if (path == "/users/") {
    auto versions = tx.VersionsSeen(p.id);
    Check(tx);
    std::sort(versions.begin(), versions.end(),
              [](const VersionSeen& a, const VersionSeen& b) { return a.users > b.users; });
    std::string body = nav + "<p>" + std::to_string(c.users) + " users have it installed.</p>";
    if (!versions.empty()) {
      body += "<table><tr><th>Version</th><th>Users</th></tr>";
      std::size_t shown = 0;
      for (const VersionSeen& v : versions) {
        if (++shown > kListLimit) break;
        body += "<tr><td>" + HtmlEscape(v.version) + (v.is_beta ? " (beta)" : "") + "</td><td>" +
                std::to_string(v.users) + "</td></tr>";
      }
      body += "</table>";
    }
    return Html(200, p.name + ": users", body);
  }
  return NotFound();
}

SitePages::Page SitePages::PublisherSite(Transaction& tx, const std::string& label,
                                         const std::string& path) {
  const auto programs = tx.ProgramsOfPublisher(label, kListLimit);
  Check(tx);
  if (programs.empty() || path != "/") return NotFound();
  const std::string& name = programs.front().publisher.empty() ? label : programs.front().publisher;
  std::string body = "<ul>";
  for (const Program& p : programs) {
    body += "<li><a href=\"" + HtmlEscape(ProgramUrl(p.short_name)) + "\">" + HtmlEscape(p.name) + "</a></li>";
  }
  return Html(200, name, body + "</ul>");
}

SitePages::Page SitePages::Home(Transaction& tx) {
  const SiteCounts counts = tx.Counts();
  const auto news = tx.LatestNews(5);
  Check(tx);
  std::string body = "<p>Korvan keeps the programs on your computer up to date: it lists what is "
                     "installed and tells you when a new version is out.</p>";
  body += "<p>" + std::to_string(counts.programs) + " programs from " + std::to_string(counts.publishers) +
          " publishers, " + std::to_string(counts.users) + " users.</p><h2>News</h2>";
  if (news.empty()) body += "<p>No news yet.</p>";
  else body += "<ul>";
  for (const NewsItem& n : news) {
    body += "<li>" + HtmlEscape(n.date) + " ";
    if (n.url.starts_with("http://") || n.url.starts_with("https://")) {
      body += "<a href=\"" + HtmlEscape(n.url) + "\">" + HtmlEscape(n.title) + "</a>";
    } else {
      body += HtmlEscape(n.title);
    }
    body += "</li>";
  }
  if (!news.empty()) body += "</ul>";
  return Html(200, "Korvan", body);
}

SitePages::Page SitePages::Search(Transaction& tx, const std::string& text) {
  if (text.empty()) return Html(200, "Search", "<p>Type part of a program's name above.</p>");
  const auto programs = tx.ListPrograms(text, kListLimit);
  Check(tx);
  std::string body;
  if (programs.empty()) body = "<p>No program matches.</p>";
  else body = "<ul>";
  for (const Program& p : programs) {
    body += "<li><a href=\"" + HtmlEscape(ProgramUrl(p.short_name)) + "\">" + HtmlEscape(p.name) + "</a>";
    if (!p.publisher.empty()) body += " <small>" + HtmlEscape(p.publisher) + "</small>";
    body += "</li>";
  }
  if (!programs.empty()) body += "</ul>";
  return Html(200, "Search: " + text, body);
}

bool SitePages::SignedIn(const User& user, const std::string& login, const std::string& pwd,
                         const std::string& peer) {
  if (login.empty() || pwd.empty()) return false;
  const bool named = login == std::to_string(user.id) || (!user.email.empty() && Lower(login) == user.email);
  if (named && credentials_.IsRemembered(user.credential, pwd)) return true;
  // Like the protocol: only the slow check is limited, and every failure counts.
  const std::int64_t now = clock_();
  if (!failed_sign_ins_.Allows(peer, now)) return false;
  if (named && credentials_.Verify(user.credential, pwd)) return true;
  failed_sign_ins_.Count(peer, now);
  return false;
}

SitePages::Page SitePages::UserPage(Transaction& tx, Id id, const std::string& section,
                                    const httplib::Request& req) {
  const auto user = tx.FindUser(id);
  Check(tx);
  if (!user) return NotFound();
  // The client escapes "+" in an address, so a query's "+" is a blank here.
  const std::string login = req.get_param_value("login");
  const std::string pwd = req.get_param_value("pwd");
  const std::string name =
      !user->name.empty() ? user->name : (user->is_guest ? "Guest " : "User ") + std::to_string(id);
  std::string body = "<p>Member since " + Date(user->created_at) + ".</p>";
  const std::string base = "/user/" + std::to_string(id) + "/";
  body += "<p><a href=\"" + base + "\">Programs</a> &middot; <a href=\"" + base +
          "updates/\">Updates</a> &middot; <a href=\"" + base + "comments/\">Comments</a> &middot; <a href=\"" +
          base + "questions/\">Questions</a></p>";
  if (section == "/questions/") return Html(200, name, body + "<p>No questions yet.</p>");
  if (!SignedIn(*user, login, pwd, req.remote_addr)) {
    if (!login.empty() || !pwd.empty()) body += "<p>Not signed in: only the public part is shown.</p>";
    return Html(200, name, body);
  }

  const bool updates_only = section == "/updates/";
  const auto installs = section == "/comments/" ? std::vector<UserInstall>() : tx.InstallsOfUser(id, 500);
  const auto comments = section == "/comments/" || section == "/" ? tx.CommentsBy(id, kCommentsOnPage)
                                                                 : std::vector<Comment>();
  Check(tx);
  if (section != "/comments/") body += updates_only ? "<h2>Updates</h2>" : "<h2>Programs</h2>";
  if (section != "/comments/" && installs.empty()) body += "<p>No programs reported yet.</p>";
  if (!installs.empty()) body += "<table><tr><th>Program</th><th>Installed</th><th>Latest stable</th><th>Latest beta</th><th></th></tr>";
  int out_of_date = 0;
  for (const UserInstall& u : installs) {
    const std::string stable = LatestStable(u.program, u.stats);
    const std::string beta = LatestBeta(u.program, u.stats);
    const bool old = IsNewerVersion(stable, u.version) || (u.is_beta && IsNewerVersion(beta, u.version));
    out_of_date += old ? 1 : 0;
    if (updates_only && !old) continue;
    body += "<tr><td><a href=\"" + HtmlEscape(ProgramUrl(u.program.short_name)) + "\">" +
            HtmlEscape(u.program.name) + "</a></td><td>" + HtmlEscape(u.version) + (u.is_beta ? " (beta)" : "") +
            "</td><td>" + OrDash(stable) + "</td><td>" + OrDash(beta) + "</td><td>" +
            (old ? "<span class=\"old\">update available</span>" : "") + "</td></tr>";
  }
  if (!installs.empty()) {
    body += "</table><p>" + std::to_string(out_of_date) + " of " + std::to_string(installs.size()) +
            " out of date.</p>";
  }
  if (section == "/updates/") return Html(200, name, body);
  body += "<h2>Comments</h2>";
  if (comments.empty()) body += "<p>No comments yet.</p>";
  for (const Comment& c : comments) {
    const auto program = tx.FindProgram(c.program_id);
    Check(tx);
    body += "<p><small>" + Date(c.created_at) + "</small>";
    if (program) {
      body += " <a href=\"" + HtmlEscape(ProgramUrl(program->short_name)) + "\">" + HtmlEscape(program->name) + "</a>";
    }
    body += "</p><div class=\"comment\">" + HtmlEscape(c.text) + "</div>";
  }
  return Html(200, name, body);
}

SitePages::Page SitePages::BugReportPost(const httplib::Request& req, const Form* form) {
  if (!form) return Html(400, "Report a problem", BugReportForm("site", "The form could not be read."));
  BugReport report;
  report.kind = Kind(form->Value("type").value_or(""));
  report.email = Trim(form->Value("email").value_or(""));
  report.text = Trim(form->Value("text").value_or(""));
  if (report.text.empty()) {
    return Html(400, "Report a problem", BugReportForm(report.kind, "Please say what went wrong."));
  }
  if (report.text.size() > kMaxReport || report.email.size() > kMaxEmail) {
    return Html(413, "Report a problem", BugReportForm(report.kind, "The report is too long."));
  }
  report.peer = req.remote_addr;
  report.received_at = clock_();
  if (!form_posts_.Take(report.peer, report.received_at)) {
    return Html(429, "Report a problem", BugReportForm(report.kind, "Too many reports from your address. Please wait a minute."));
  }
  auto tx = storage_.Begin(true);
  if (!tx) return Unavailable();
  if (!tx->AddBugReport(report) || !tx->Commit()) return Unavailable();
  return Html(200, "Thank you", "<p>Your report has been received. Thank you for helping.</p>"
                                "<p><a href=\"/\">Home</a></p>");
}

SitePages::Page SitePages::ReminderPost(const httplib::Request& req, const Form* form) {
  const std::string email = form ? Lower(Trim(form->Value("email").value_or(""))) : "";
  if (email.empty() || email.size() > kMaxEmail || email.find('@') == std::string::npos) {
    return Html(400, "Forgot your password?", ReminderForm("Please give a valid e-mail address."));
  }
  if (!form_posts_.Take(req.remote_addr, clock_())) {
    return Html(429, "Forgot your password?", ReminderForm("Too many requests from your address. Please wait a minute."));
  }
  auto tx = storage_.Begin(true);
  if (!tx) return Unavailable();
  const auto user = tx->FindUserByEmail(email);
  if (!tx->AddPasswordReminder(email, user ? user->id : 0, req.remote_addr, clock_()) ||
      !tx->Commit()) {
    return Unavailable();
  }
  // The same answer for every address: the page tells no one who has an account.
  return Html(200, "Forgot your password?",
              "<p>If an account uses this address, a reminder is on its way to it.</p>");
}

}  // namespace kv::server
