// The front end over real HTTP on loopback, posted to by the client's own
// libcurl transport and form poster (and by cpp-httplib's client where a
// kept-alive connection or a chunked body is the point).
#include "http/front_end.h"

#include <gtest/gtest.h>
#include <httplib.h>

#include <future>
#include <mutex>
#include <set>

#include "http_server/http_exchange.h"
#include "service/form_poster.h"

namespace kv::server {
namespace {

using namespace std::chrono_literals;
using platform::ErrorKind;
using platform::Status;

const std::string kAnswer("PK\x03\x04\0answer\r\n\xFF", 14);  // zero bytes included

class FrontEndTest : public ::testing::Test {
 protected:
  FrontEndOptions Options() {
    FrontEndOptions o;
    o.port = 0;
    o.keep_alive = 1s;
    o.log = [this](std::string_view line) { Locked([&] { log_.emplace_back(line); }); };
    return o;
  }
  // Starts a front end whose modes record what reaches them and whose
  // fallback answers with the problem's kind.
  std::unique_ptr<FrontEnd> Start(FrontEndOptions options, std::initializer_list<const char*> modes,
                                  const std::function<void(FrontEnd&)>& more = {}) {
    auto fe = std::make_unique<FrontEnd>(options, [this](const ModeRequest& r, const Status& problem) {
      Locked([&] { fallen_.push_back({r, problem}); });
      return Reply{200, std::string("fallback: ") + platform::ErrorKindName(problem.kind())};
    });
    for (const char* mode : modes) {
      fe->AddMode(mode, [this](const ModeRequest& r) {
        Locked([&] { seen_.push_back(r); });
        return Reply{200, kAnswer};
      });
    }
    if (more) more(*fe);
    EXPECT_TRUE(fe->Start());
    return fe;
  }
  template <typename F>
  void Locked(F f) {
    std::lock_guard lock(mutex_);
    f();
  }
  // The log line follows the reply: waits for `count` of them.
  std::vector<std::string> Log(std::size_t count) {
    for (auto deadline = std::chrono::steady_clock::now() + 5s;; std::this_thread::sleep_for(1ms)) {
      std::lock_guard lock(mutex_);
      if (log_.size() >= count || std::chrono::steady_clock::now() > deadline) return log_;
    }
  }

  // A post through the client's form poster; the reply read whole.
  http_test::HttpExchange Post(const FrontEnd& fe, const std::string& target, bool multipart,
                               const std::function<void(service::FormPoster&)>& fill) {
    service::FormPoster form(*http_);
    fill(form);
    const app::ServiceEndpoint site{"http", "127.0.0.1", fe.port()};
    http_test::HttpExchange out;
    out.status = multipart ? form.PostMultipart(site, target) : form.PostUrlEncoded(site, target);
    out.code = form.ReplyStatus();
    char buffer[4096];
    while (out.status) {
      const auto got = form.ReadBody(buffer, sizeof buffer);
      if (!got || *got == 0) break;
      out.reply.append(buffer, *got);
    }
    return out;
  }
  http_test::HttpExchange PostRaw(const FrontEnd& fe, const std::string& target,
                                  const std::string& headers, const std::string& body) {
    return http_test::PostThrough(*http_, {false, "127.0.0.1", fe.port(), target}, headers, body);
  }

  std::unique_ptr<platform::HttpTransport> http_ = platform::MakeSystemHttpTransport();
  std::mutex mutex_;
  std::vector<std::string> log_;
  std::vector<ModeRequest> seen_;
  std::vector<std::pair<ModeRequest, Status>> fallen_;
};

std::vector<FormField> Sent(const service::FormPoster& poster) {
  std::vector<FormField> out;
  for (const auto& f : poster.fields()) out.push_back({f.name, f.file_name, std::string(f.data())});
  return out;
}

TEST_F(FrontEndTest, AModeReceivesExactlyTheFieldsSentInBothEncodings) {
  auto fe = Start(Options(), {"add_programs", "add_comment"});
  std::string zip;
  for (int i = 0; i < 70000; ++i) zip += static_cast<char>((i * 31 + i / 256) & 0xFF);
  std::string comment;  // over 8 KiB escaped: cpp-httplib alone refuses that
  for (int i = 0; i < 2000; ++i) comment += "C++ \xC3\xA9&";
  std::vector<FormField> multipart, urlencoded;
  std::size_t length = 0;
  const auto before = std::chrono::system_clock::now();
  const auto a = Post(*fe, "/kv.php?mode=add_programs", true, [&](service::FormPoster& f) {
    f.AddField("id", "1234");
    f.AddField("Id", "777");
    f.AddField("email", "ann+test@example.com");
    f.AddFile("zipfile", "report.zip", zip);
    multipart = Sent(f);
    length = f.MultipartLength();
  });
  const auto b = Post(*fe, "/kv.php?mode=add_comment", false, [&](service::FormPoster& f) {
    f.AddField("email", "ann+test@example.com");
    f.AddField("Comment", comment);
    urlencoded = Sent(f);
  });
  ASSERT_TRUE(a.status && b.status) << a.status.ToString() << b.status.ToString();
  EXPECT_TRUE(a.code == 200 && a.reply == kAnswer && b.reply == kAnswer);

  const auto log = Log(2);
  std::lock_guard lock(mutex_);
  ASSERT_EQ(seen_.size(), 2u);
  EXPECT_EQ(seen_[0].mode, "add_programs");
  EXPECT_TRUE(seen_[0].form.fields() == multipart) << "the multipart form arrived changed";
  EXPECT_EQ(seen_[1].mode, "add_comment");
  EXPECT_TRUE(seen_[1].form.fields() == urlencoded) << "the urlencoded form arrived changed";
  EXPECT_EQ(seen_[0].remote_address, "127.0.0.1");
  EXPECT_GT(seen_[0].remote_port, 0);
  EXPECT_LE(seen_[0].received - before, 5s);
  ASSERT_EQ(log.size(), 2u);
  EXPECT_NE(log[0].find(" 127.0.0.1:"), std::string::npos);
  EXPECT_NE(log[0].find(" POST /kv.php?mode=add_programs 200 in=" + std::to_string(length) +
                        " out=" + std::to_string(kAnswer.size()) + " "),
            std::string::npos)
      << log[0];
}

TEST_F(FrontEndTest, WhatNoModeTakesReachesTheFallback) {
  auto fe = Start(Options(), {"get_id"}, [](FrontEnd& fe) {
    fe.AddMode("boom", [](const ModeRequest&) -> Reply { throw std::runtime_error("boom"); });
  });
  const std::string form = "Content-Type: application/x-www-form-urlencoded\r\n";
  EXPECT_EQ(Post(*fe, "/kv.php?mode=Get_id", false, [](auto& f) { f.AddField("client_build", "12"); }).reply,
            "fallback: not found");
  EXPECT_EQ(PostRaw(*fe, "/kv.php", form, "a=1").reply, "fallback: not found");
  EXPECT_EQ(PostRaw(*fe, "/kv.php?mode=get_id", form, "a=%zz").reply, "fallback: corrupt");
  EXPECT_EQ(PostRaw(*fe, "/kv.php?mode=get_id", "Content-Type: multipart/form-data; boundary=b\r\n",
                    "--b\r\nContent-Disposition: form-data; name=\"a\"\r\n\r\n1\r\n")
                .reply,
            "fallback: corrupt");
  // No content coding: a compressed body could inflate past every limit.
  const std::string gzipped("\x1F\x8B\x08\0\0\0\0\0\0\x03\x4B\xB4\x35\x04\0\x81\x30\x62\x8D\x03\0\0\0", 23);
  EXPECT_EQ(PostRaw(*fe, "/kv.php?mode=get_id", form + "Content-Encoding: gzip\r\n", gzipped).reply,
            "fallback: corrupt");
  // Another content type is an empty form; a handler that throws, no answer.
  EXPECT_TRUE(PostRaw(*fe, "/kv.php?mode=get_id", "Content-Type: text/plain\r\n", "a=1").reply == kAnswer);
  const auto boom = PostRaw(*fe, "/kv.php?mode=boom", "", "");
  EXPECT_TRUE(boom.code == 500 && boom.reply.empty());

  std::lock_guard lock(mutex_);
  ASSERT_EQ(fallen_.size(), 5u);
  EXPECT_EQ(fallen_[0].first.mode, "Get_id");                       // modes are exact
  EXPECT_EQ(fallen_[0].first.form.Value("client_build"), "12");     // the form comes along
  EXPECT_EQ(fallen_[1].first.mode, "");
  EXPECT_TRUE(fallen_[2].first.mode == "get_id" && fallen_[2].first.form.empty());
  ASSERT_EQ(seen_.size(), 1u);
  EXPECT_TRUE(seen_[0].form.empty());
}

TEST_F(FrontEndTest, BodiesOverTheLimitOrWithoutALengthAreRefused) {
  FrontEndOptions options = Options();
  options.limits.max_body = 10000;
  auto fe = Start(options, {"add_usagelog"});
  // The client sends it all and reads the refusal.
  const auto over = PostRaw(*fe, "/kv.php?mode=add_usagelog", "", std::string(10001, 'x'));
  ASSERT_TRUE(over.status) << over.failed_at << ": " << over.status.ToString();
  EXPECT_EQ(over.code, 413);
  EXPECT_EQ(PostRaw(*fe, "/kv.php?mode=add_usagelog", "", std::string(10000, 'x')).code, 200);
  // A chunked body has no length to hold against the limit: refused unread
  // (the refusal may be lost to the reset of a connection left unread).
  httplib::Client client("127.0.0.1", fe->port());
  const auto chunked = client.Post(
      "/kv.php?mode=add_usagelog",
      [](std::size_t, httplib::DataSink& sink) { return sink.write("a=1", 3) && (sink.done(), true); },
      "application/x-www-form-urlencoded");
  if (chunked) {
    EXPECT_EQ(chunked->status, 411);
  }

  const auto log = Log(3);
  std::lock_guard lock(mutex_);
  EXPECT_EQ(seen_.size(), 1u);  // neither reached the mode
  EXPECT_TRUE(fallen_.empty());
  // Lines are written as requests end, which need not be the order they came in.
  bool refused_logged = false;
  for (const std::string& line : log) refused_logged |= line.find(" 413 in=10001 out=") != std::string::npos;
  EXPECT_TRUE(refused_logged) << (log.empty() ? "no log" : log[0]);
}

TEST_F(FrontEndTest, KeptAliveConnectionsServeManyRequestsAndPages) {
  auto fe = Start(Options(), {"check_updates"}, [](FrontEnd& fe) {
    fe.Get("/", [](const httplib::Request&, httplib::Response& res) { res.set_content("<p>K</p>", "text/html"); });
  });
  httplib::Client client("127.0.0.1", fe->port());
  client.set_keep_alive(true);
  client.set_tcp_nodelay(true);
  for (int i = 0; i < 8; ++i) {
    const auto res =
        client.Post("/kv.php?mode=check_updates", "n=" + std::to_string(i), "application/x-www-form-urlencoded");
    ASSERT_TRUE(res) << httplib::to_string(res.error());
    EXPECT_EQ(res->get_header_value("Connection"), "");
  }
  const auto page = client.Get("/");
  ASSERT_TRUE(page);
  EXPECT_EQ(page->body, "<p>K</p>");

  std::lock_guard lock(mutex_);
  ASSERT_EQ(seen_.size(), 8u);
  std::set<int> ports;
  for (std::size_t i = 0; i < seen_.size(); ++i) {
    EXPECT_EQ(seen_[i].form.Value("n"), std::to_string(i));
    ports.insert(seen_[i].remote_port);
  }
  EXPECT_EQ(ports.size(), 1u) << "requests came on new connections";
}

TEST_F(FrontEndTest, StopLetsARequestInFlightFinish) {
  std::promise<void> entered, release;
  std::shared_future<void> released = release.get_future().share();
  FrontEnd fe(Options(), {});
  fe.AddMode("add_programs", [&](const ModeRequest&) {
    entered.set_value();
    released.wait();
    return Reply{200, "late answer"};
  });
  ASSERT_TRUE(fe.Start());
  auto client = std::async(std::launch::async, [&] {
    return Post(fe, "/kv.php?mode=add_programs", true, [](auto& f) { f.AddField("a", "1"); });
  });
  ASSERT_EQ(entered.get_future().wait_for(10s), std::future_status::ready);
  auto stopping = std::async(std::launch::async, [&] { fe.Stop(); });
  EXPECT_EQ(stopping.wait_for(300ms), std::future_status::timeout) << "Stop did not wait";
  release.set_value();
  ASSERT_EQ(stopping.wait_for(10s), std::future_status::ready);
  const auto done = client.get();
  EXPECT_TRUE(done.status && done.reply == "late answer") << done.status.ToString();
  // Nothing listens any more.
  EXPECT_TRUE(Post(fe, "/kv.php", false, [](auto&) {}).status.Is(ErrorKind::Network));
}

TEST_F(FrontEndTest, ABoundPortIsNotShared) {
  auto first = Start(Options(), {});
  FrontEndOptions options = Options();
  options.port = first->port();
  const Status second = FrontEnd(options, {}).Start();
  EXPECT_TRUE(second.Is(ErrorKind::AlreadyExists)) << second.ToString();
}


// The site's pages take the account and its digest in the query: the log
// keeps the page and blanks them.
TEST_F(FrontEndTest, TheLogBlanksSignInValues) {
  auto fe = Start(Options(), {}, [](FrontEnd& fe) {
    fe.Get("/user/.*", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("page", "text/html");
    });
  });
  httplib::Client client("127.0.0.1", fe->port());
  ASSERT_TRUE(client.Get("/user/7/?login=ann%40example.com&pwd=5f4dcc3b&tab=2&password=x"));
  const auto log = Log(1);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find(" GET /user/7/?login=*&pwd=*&tab=2&password=* 200 "), std::string::npos)
      << log[0];
  EXPECT_EQ(log[0].find("5f4dcc3b"), std::string::npos);
}

}  // namespace
}  // namespace kv::server
