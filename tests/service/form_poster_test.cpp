#include "service/form_poster.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/fake/fake_http.h"

namespace kv::service {
namespace {

using platform::ErrorKind;
using platform::FakeHttpReply;
using platform::FakeHttpTransport;
using platform::Status;

const std::string kBoundary = "---------------------------284583012225az7";

app::ServiceEndpoint Site() { return {"http", "site.example", 8080}; }

TEST(FormPoster, MultipartBodyIsByteExactAndItsLengthAnnounced) {
  FakeHttpTransport http;
  FormPoster form(http);
  std::string zip(2500, '\0');
  for (std::size_t i = 0; i < zip.size(); ++i) zip[i] = static_cast<char>(i * 7);
  form.AddFile("zipfile", "report.zip", zip);
  form.AddField("Submit", "Submit");
  ASSERT_TRUE(form.PostMultipart(Site(), "/kv.php?mode=add_programs"));

  const auto sent = http.exchanges();
  ASSERT_EQ(sent.size(), 1u);
  const std::string expected =
      "--" + kBoundary + "\r\n"
      "Content-Disposition: form-data; name=\"zipfile\"; filename=\"report.zip\"\r\n"
      "Content-Type: application/octet-stream\r\n\r\n" + zip + "\r\n"
      "--" + kBoundary + "\r\n"
      "Content-Disposition: form-data; name=\"Submit\"\r\n\r\nSubmit\r\n"
      "--" + kBoundary + "--\r\n";
  EXPECT_EQ(sent[0].body, expected);
  EXPECT_EQ(sent[0].announced, expected.size());
  EXPECT_EQ(form.MultipartLength(), expected.size());
  EXPECT_EQ(sent[0].headers, "Content-Type: multipart/form-data; boundary=" + kBoundary + "\r\n");
  EXPECT_EQ(sent[0].target.path, "/kv.php?mode=add_programs");
  EXPECT_EQ(sent[0].target.host, "site.example");
  EXPECT_EQ(sent[0].target.port, 8080);
  EXPECT_FALSE(sent[0].target.secure);
  // Header in one piece, data in pieces of at most 1,024 bytes, then CR LF.
  const std::size_t header = expected.find("\r\n\r\n") + 4;
  ASSERT_GE(sent[0].pieces.size(), 5u);
  EXPECT_EQ(sent[0].pieces[0], header);
  EXPECT_EQ(sent[0].pieces[1], 1024u);
  EXPECT_EQ(sent[0].pieces[2], 1024u);
  EXPECT_EQ(sent[0].pieces[3], 452u);
  EXPECT_EQ(sent[0].pieces[4], 2u);
}

TEST(FormPoster, AFormWithoutFieldsIsNotPostedAsMultipart) {
  FakeHttpTransport http;
  FormPoster form(http);
  EXPECT_FALSE(form.PostMultipart(Site(), "/kv.php?mode=add_programs"));
  EXPECT_EQ(http.exchange_count(), 0u);
  // The urlencoded form posts an empty body.
  ASSERT_TRUE(form.PostUrlEncoded(Site(), "/kv.php?mode=check_updates"));
  EXPECT_EQ(http.exchanges().at(0).body, "");
}

TEST(FormPoster, UrlEncodedBodyEscapesAllButTheSafeSet) {
  FakeHttpTransport http;
  FormPoster form(http);
  form.AddField("e mail", "a b&c=d+e*f,g\xE9h%/~");
  form.AddField("password", "0123456789abcdef");
  form.AddField("cut", std::string("before\0after", 12));  // read as text
  ASSERT_TRUE(form.PostUrlEncoded(Site(), "/kv.php?mode=get_id"));
  const auto sent = http.exchanges().at(0);
  EXPECT_EQ(sent.body,
            "e%20mail=a%20b%26c%3Dd+e*f,g%E9h%25%2F%7E&password=0123456789abcdef&cut=before");
  EXPECT_EQ(sent.announced, sent.body.size());
  EXPECT_EQ(sent.headers, "Content-Type: application/x-www-form-urlencoded\r\n");
}

TEST(FormPoster, UrlEscapeKeepsExactlyTheSafeSet) {
  std::string all;
  for (int c = 0; c < 256; ++c) all += static_cast<char>(c);
  // What survives unescaped (hexadecimal digits of the escapes removed).
  std::string unescaped;
  const std::string escaped = UrlEscape(all);
  for (std::size_t i = 0; i < escaped.size(); ++i) {
    if (escaped[i] == '%') i += 2;
    else unescaped += escaped[i];
  }
  EXPECT_EQ(unescaped,
            "!$'()*+,-.0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ_abcdefghijklmnopqrstuvwxyz");
  EXPECT_EQ(UrlEscape(""), "");
  EXPECT_EQ(UrlEscape("\x01\x7F\xFF"), "%01%7F%FF");
}

TEST(FormPoster, TextReplyStopsEachPieceAtAZeroByte) {
  std::string reply(1500, 'x');
  reply[10] = '\0';
  FakeHttpTransport http([&](const auto&) { return FakeHttpReply::Ok(reply); });
  FormPoster form(http);
  form.AddField("a", "b");
  std::string text;
  ASSERT_TRUE(form.PostUrlEncoded(Site(), "/p", &text));
  EXPECT_EQ(text, std::string(10, 'x') + std::string(1500 - 1024, 'x'));
}

TEST(FormPoster, FailuresKeepTheirReason) {
  FakeHttpTransport http;
  FormPoster form(http);
  form.AddField("a", "b");
  http.SetConnectFailure(Status::Error(ErrorKind::Network, "connection refused: site.example:8080"));
  Status s = form.PostUrlEncoded(Site(), "/p");
  EXPECT_TRUE(s.Is(ErrorKind::Network));
  EXPECT_EQ(s.message(), "connection refused: site.example:8080");
  EXPECT_FALSE(form.ReadBody(nullptr, 0));  // no request to read from

  // A reply cut off part-way is a failure, not a shorter reply.
  http.SetConnectFailure(std::nullopt);
  http.SetHandler([](const auto&) {
    FakeHttpReply r = FakeHttpReply::Ok(std::string(5000, 'y'));
    r.break_after = 3000;
    r.read_failure = Status::Error(ErrorKind::Timeout, "timed out");
    return r;
  });
  std::string text;
  EXPECT_TRUE(form.PostUrlEncoded(Site(), "/p", &text).Is(ErrorKind::Timeout));

  // https goes out secure on the configured port.
  http.SetHandler({});
  ASSERT_TRUE(form.PostUrlEncoded({"https", "secure.example", 443}, "/p"));
  const auto last = http.exchanges().back();
  EXPECT_TRUE(last.target.secure);
  EXPECT_EQ(last.target.port, 443);
}

TEST(FormPoster, OverlongPartNamesAreRefusedNotTruncated) {
  FakeHttpTransport http;
  FormPoster form(http);
  form.AddField(std::string(kPartHeaderLimit, 'n'), "v");
  EXPECT_FALSE(form.PostMultipart(Site(), "/p"));
  EXPECT_EQ(http.exchange_count(), 0u);
}

}  // namespace
}  // namespace kv::service
