// The form parsers on the bodies the client's own FormPoster writes, and on
// what other senders or broken requests may bring.
#include "http/form.h"

#include <gtest/gtest.h>

#include "platform/fake/fake_http.h"
#include "service/form_poster.h"

namespace kv::server {
namespace {

using platform::ErrorKind;
using Fields = std::vector<FormField>;

const std::string kBoundary(service::kMultipartBoundary);

// The body the client sends for the fields `fill` adds.
template <typename Fill>
std::string ClientBody(bool multipart, Fill fill) {
  platform::FakeHttpTransport http;
  service::FormPoster poster(http);
  fill(poster);
  const app::ServiceEndpoint site{"http", "site.example", 8080};
  EXPECT_TRUE(multipart ? poster.PostMultipart(site, "/p") : poster.PostUrlEncoded(site, "/p"));
  return http.exchanges().at(0).body;
}

Fields FieldsOf(const platform::Result<Form>& form) {
  EXPECT_TRUE(form) << form.status().ToString();
  return form ? form->fields() : Fields();
}

TEST(HttpForm, UrlEncodedBodiesOfTheClientComeBackFieldForField) {
  const std::string comment = "C++ & more, na\xC3\xAFve\r\nline 2 = 100% ~/a?b#c";
  const std::string body = ClientBody(false, [&](service::FormPoster& f) {
    f.AddField("id", "1234");
    f.AddField("Id", "777");
    f.AddField("email", "ann+test@example.com");
    f.AddField("Comment", comment);
    f.AddField("latin", "caf\xE9");
    f.AddField("empty", "");
  });
  ASSERT_NE(body.find("ann+test"), std::string::npos);  // the client leaves a plus alone
  ASSERT_NE(body.find("caf%E9"), std::string::npos);
  const auto form = ParseUrlEncoded(body, {});
  EXPECT_EQ(FieldsOf(form), (Fields{{"id", "", "1234"}, {"Id", "", "777"},
                                    {"email", "", "ann+test@example.com"}, {"Comment", "", comment},
                                    {"latin", "", "caf\xE9"}, {"empty", "", ""}}));
  // Names are exact: id and Id are two fields, ID is none.
  EXPECT_EQ(form->Value("Id"), "777");
  EXPECT_FALSE(form->Has("ID"));
  EXPECT_EQ(form->Value("ID"), std::nullopt);
}

TEST(HttpForm, UrlEncodedAsOtherSendersWriteIt) {
  // Lower-case hexadecimal, an escaped name, "=" in a value, empty items, a
  // name alone, an empty name; a repeated name is found first as sent.
  EXPECT_EQ(FieldsOf(ParseUrlEncoded("&a%3db=%c3%a9%2B+&&flag&c=x=y&=v&c=2", {})),
            (Fields{{"a=b", "", "\xC3\xA9++"}, {"flag", "", ""}, {"c", "", "x=y"}, {"", "", "v"},
                    {"c", "", "2"}}));
  EXPECT_EQ(ParseUrlEncoded("c=1&c=2", {})->Value("c"), "1");
  EXPECT_TRUE(ParseUrlEncoded("&&", {})->empty());
  for (const char* bad : {"a=%", "a=%4", "a=%G1", "a=%1G", "a%=1", "b=%%41", "a=%-1"})
    EXPECT_TRUE(ParseUrlEncoded(bad, {}).status().Is(ErrorKind::Corrupt)) << bad;
}

TEST(HttpForm, MultipartBodiesOfTheClientComeBackByteForByte) {
  // Every byte value, line ends, and the boundary itself followed by other bytes.
  std::string zip;
  for (int i = 0; i < 256; ++i) zip += static_cast<char>(i);
  zip += "\r\n\r\n--" + kBoundary.substr(0, 20) + "\r\n\r\n--" + kBoundary + "x--\r\n" + '\0';
  const std::string body = ClientBody(true, [&](service::FormPoster& f) {
    f.AddField("id", "1234");
    f.AddField("Id", "777");
    f.AddFile("zipfile", "report.zip", zip);
    f.AddField("Comment", "two\r\nlines");
    f.AddFile("icons", "icons.zip", "");
  });
  EXPECT_EQ(FieldsOf(ParseMultipart("multipart/form-data; boundary=" + kBoundary, body, {})),
            (Fields{{"id", "", "1234"}, {"Id", "", "777"}, {"zipfile", "report.zip", zip},
                    {"Comment", "", "two\r\nlines"}, {"icons", "icons.zip", ""}}));
}

TEST(HttpForm, MultipartAsOtherSendersWriteItAndBrokenOnes) {
  // A quoted boundary among other parameters, names in any case, parameters
  // in any order, other headers, padding, a preamble and an epilogue.
  const std::string body =
      "preamble --xyz\r\n--xyz \t\r\ncontent-type: text/plain\r\n"
      "CONTENT-DISPOSITION: Form-Data ;filename=\"C:\\d\\a b;c.txt\"; name=file\r\n\r\ndata\r\n"
      "--xyz\r\nContent-Disposition: form-data; name=\"\"\r\n\r\n\r\n--xyz--\r\n--xyz\r\nepilogue";
  EXPECT_EQ(FieldsOf(ParseMultipart("Multipart/Form-Data; charset=x; Boundary=\"xyz\"", body, {})),
            (Fields{{"file", "C:\\d\\a b;c.txt", "data"}, {"", "", ""}}));
  EXPECT_TRUE(ParseMultipart("multipart/form-data;boundary=b", "--b--", {})->empty());

  const std::string type = "multipart/form-data; boundary=b";
  const std::string head = "--b\r\nContent-Disposition: ";
  const std::pair<std::string, std::string> broken[] = {
      {"multipart/form-data", head + "form-data; name=a\r\n\r\n1\r\n--b--"},  // no boundary
      {"multipart/form-data; boundary=\"b", head + "form-data; name=a\r\n\r\n1\r\n--b--"},
      {"multipart/mixed; boundary=b", head + "form-data; name=a\r\n\r\n1\r\n--b--"},
      {type, "no delimiter"},
      {type, head + "form-data; name=a\r\n\r\n1\r\n"},  // never closed
      {type, head + "form-data; name=a\r\n\r\n1\r\n--b-\r\n"},
      {type, head + "form-data; name=a\r\n"},  // headers never end
      {type, "--b\r\n\r\n1\r\n--b--"},         // no Content-Disposition
      {type, head + "attachment; name=a\r\n\r\n1\r\n--b--"},
      {type, head + "form-data; filename=a\r\n\r\n1\r\n--b--"},
      {type, head + "form-data; name=\"a\r\n\r\n1\r\n--b--"},
      {type, head + "form-data name=a\r\n\r\n1\r\n--b--"},
      {type, "--b\r\nno colon\r\n\r\n1\r\n--b--"},
      {type, "--bx\r\nContent-Disposition: form-data; name=a\r\n\r\n1\r\n"},  // not our boundary
  };
  for (const auto& [bad_type, bad_body] : broken)
    EXPECT_TRUE(ParseMultipart(bad_type, bad_body, {}).status().Is(ErrorKind::Corrupt)) << bad_body;
}

TEST(HttpForm, LimitsHoldAtTheirEdge) {
  RequestLimits limits;
  limits.max_fields = 2;
  limits.max_field = 4;
  limits.max_body = 40;
  const auto over = [&](const platform::Result<Form>& r) { return r.status().Is(ErrorKind::Other); };
  EXPECT_EQ(ParseUrlEncoded("a=1&b=%41%42%43%44&&", limits)->size(), 2u);  // decoded bytes count
  EXPECT_TRUE(over(ParseUrlEncoded("a=1&b=2&c", limits)));
  EXPECT_TRUE(over(ParseUrlEncoded("v=%41%42%43%44%45", limits)));
  EXPECT_TRUE(over(ParseUrlEncoded("abcde=1", limits)));
  EXPECT_TRUE(over(ParseUrlEncoded(std::string(41, '&'), limits)));

  limits.max_body = 8000;
  const auto part = [](std::string name, std::string value, std::string file = "") {
    return "--b\r\nContent-Disposition: form-data; name=\"" + name + "\"" +
           (file.empty() ? "" : "; filename=\"" + file + "\"") + "\r\n\r\n" + value + "\r\n";
  };
  const auto multipart = [&](const std::string& body) {
    return ParseMultipart("multipart/form-data; boundary=b", body + "--b--", limits);
  };
  EXPECT_TRUE(multipart(part("a", "1234") + part("b", "")));
  EXPECT_TRUE(over(multipart(part("a", "1") + part("b", "") + part("c", ""))));
  EXPECT_TRUE(over(multipart(part("a", "12345"))));
  EXPECT_TRUE(over(multipart(part("abcde", "1"))));
  EXPECT_TRUE(over(multipart(part("f", "", "f.zip"))));
  // A file is bounded by the body alone.
  EXPECT_EQ(FieldsOf(multipart(part("f", std::string(7900, 'z'), "f.7z"))).at(0).content.size(), 7900u);
  EXPECT_TRUE(over(multipart(part("f", std::string(8000, 'z'), "f.7z"))));
}

}  // namespace
}  // namespace kv::server
