#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake/fake_http.h"
#include "service/request_outcome.h"
#include "service/requests.h"
#include "service/zip_archive.h"

namespace kv::service {
namespace {

using platform::ErrorKind;
using platform::FakeHttpReply;
using platform::FakeHttpTransport;
using platform::Status;

std::string Zip(std::vector<ZipEntry> entries) { return *WriteZipArchive(entries); }

std::string AnswerZip(const std::string& document) { return Zip({{"report.xml", document}}); }

std::string WithResult(const std::string& result) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<KV>\r\n <Result>" + result +
         "</Result>\r\n</KV>\r\n";
}

app::ServiceConfig Config() {
  app::ServiceConfig c;
  c.site = {"http", "site.example", 8080};
  c.upload = {"https", "upload.example", 443};
  return c;
}

// One "check_updates" exchange against a fake peer answering `body`.
struct Reply {
  RequestOutcome outcome;
  bool answered = false;
};
Reply Exchange(FakeHttpTransport& http) {
  ServiceConnection service(http, Config());
  FormPoster form(http);
  AddIdentityFields(form, {"42", "GUID-1", "u@example.com", "digest"}, "17");
  Reply run;
  run.outcome.Begin();
  run.answered = service.Exchange(RequestMode::CheckUpdates, form, run.outcome).has_value();
  return run;
}
Reply ExchangeBody(const std::string& body) {
  FakeHttpTransport http([&](const auto&) { return FakeHttpReply::Ok(body); });
  http.SetReadPieceLimit(777);  // answers arrive in odd pieces
  return Exchange(http);
}

const char kInvalid[] = "Server returned an invalid response. Please contact Korvan support.";

TEST(Answers, ResultCodesAndTheirTexts) {
  struct Case {
    std::string result;
    bool ok;
    AnswerCode code;
    std::string text;
  } cases[] = {
      {"<Code>ok</Code>", true, AnswerCode::NoAnswer, "Succeeded."},
      {"<code>OK</code>", true, AnswerCode::NoAnswer, "Succeeded."},
      {"<Code>SomethingNew</Code>", false, AnswerCode::UnexpectedError,
       "Unexpected server error."},
      {"<Code>UnexpectedError</Code><Message>Disk full\nTry later</Message>", false,
       AnswerCode::UnexpectedError, "Unexpected server error.\nDisk full\nTry later"},
      {"<Code>extendederror</Code><Message>Your comment is empty.</Message>", false,
       AnswerCode::ExtendedError, "Your comment is empty."},
      {"<Code>LoginFailure</Code><Message>Wrong password.</Message>", false,
       AnswerCode::LoginFailure, "Wrong password."},
      {"<Message>no code at all</Message>", false, AnswerCode::InvalidAnswer, kInvalid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.result);
    Reply run = ExchangeBody(AnswerZip(WithResult(c.result)));
    EXPECT_EQ(run.answered, c.ok);
    EXPECT_EQ(run.outcome.succeeded(), c.ok);
    EXPECT_EQ(run.outcome.Text(), c.text);
    if (!c.ok) EXPECT_EQ(run.outcome.ResultCode(), c.code);
    else EXPECT_EQ(run.outcome.ResultCode(), AnswerCode::UnexpectedError);
  }
}

TEST(Answers, AnOldClientLearnsWhereTheUpdateIs) {
  Reply run = ExchangeBody(AnswerZip(WithResult(
      "<Code>OldClientVersion</Code><UpdateUrl>http://x/kv-setup.exe</UpdateUrl>"
      "<InstallerCmdLineParams>/S /update</InstallerCmdLineParams>")));
  EXPECT_FALSE(run.answered);
  EXPECT_EQ(run.outcome.kind(), OutcomeKind::ServiceFailure);
  EXPECT_EQ(run.outcome.ResultCode(), AnswerCode::OldClientVersion);
  EXPECT_EQ(run.outcome.update_url(), "http://x/kv-setup.exe");
  EXPECT_EQ(run.outcome.installer_params(), "/S /update");
}

TEST(Answers, AnythingButAnAnswerDocumentIsAnInvalidResponse) {
  std::string huge(ZipLimits{}.max_entry_size + 1, '\0');
  std::vector<ZipEntry> many;
  for (int i = 0; i < 65; ++i) many.push_back({"e" + std::to_string(i), "x"});
  many.back() = {"report.xml", WithResult("<Code>OK</Code>")};
  std::string ok = AnswerZip(WithResult("<Code>OK</Code>"));
  std::string damaged = ok;
  damaged[40] ^= 0x55;  // inside the deflated data: the CRC no longer matches

  const std::pair<std::string, std::string> cases[] = {
      {"no Result", AnswerZip("<KV><Other/></KV>")},
      {"no KV", AnswerZip("<Answer><Result><Code>OK</Code></Result></Answer>")},
      {"not XML", AnswerZip("<KV><Result><Code>OK</Code></Result>")},
      {"not a zip", "<html><body>502 Bad Gateway</body></html>"},
      {"empty body", ""},
      {"zip without report.xml", Zip({{"answer.xml", WithResult("<Code>OK</Code>")}})},
      {"entry inflating past the limit", Zip({{"report.xml", huge}})},
      {"a large entry beside the answer", Zip({{"pad.bin", huge}, {"report.xml", "<KV/>"}})},
      {"more than 64 entries", Zip(many)},
      {"truncated archive", ok.substr(0, ok.size() / 2)},
      {"damaged entry", damaged},
      {"body beyond the limit", std::string(kMaxAnswerBytes + 1, 'P')},
  };
  for (const auto& [what, body] : cases) {
    SCOPED_TRACE(what);
    Reply run = ExchangeBody(body);
    EXPECT_FALSE(run.answered);
    EXPECT_EQ(run.outcome.ResultCode(), AnswerCode::InvalidAnswer);
    EXPECT_EQ(run.outcome.Text(), kInvalid);
  }
}

TEST(Answers, EntryNamesAreReducedToABareFileName) {
  // A path that climbs out of the folder lands as a bare name; it is never
  // written anywhere (answers are read in memory).
  Reply run = ExchangeBody(Zip({{"../../evil.xml", "<KV><Result><Code>OK</Code></Result></KV>"},
                              {"..\\..\\Windows\\REPORT.XML", WithResult("<Code>OK</Code>")}}));
  EXPECT_TRUE(run.answered);
  EXPECT_EQ(ZipEntryFileName("../../evil.xml"), "evil.xml");
  EXPECT_EQ(ZipEntryFileName("C:report.xml"), "report.xml");
  EXPECT_EQ(ZipEntryFileName("a/b\\c:d"), "d");
  EXPECT_EQ(ZipEntryFileName("folder/"), "");
  EXPECT_EQ(ZipEntryFileName(".."), "");
  // Of two entries that land on the same name, the later one counts.
  run = ExchangeBody(Zip({{"report.xml", WithResult("<Code>OK</Code>")},
                          {"x/report.xml", WithResult("<Code>LoginFailure</Code>")}}));
  EXPECT_EQ(run.outcome.ResultCode(), AnswerCode::LoginFailure);
}

TEST(Answers, NetworkFailuresKeepTheirReason) {
  FakeHttpTransport http;
  http.SetConnectFailure(Status::Error(ErrorKind::Network, "connection refused: site.example:8080"));
  Reply run = Exchange(http);
  EXPECT_EQ(run.outcome.kind(), OutcomeKind::NetworkFailure);
  EXPECT_EQ(run.outcome.Text(), "Unknown network error. Please check your firewall.");
  EXPECT_EQ(run.outcome.network_reason().message(), "connection refused: site.example:8080");

  // An answer cut off on the way is a network failure, not an invalid one.
  http.SetConnectFailure(std::nullopt);
  const std::string body = AnswerZip(WithResult("<Code>OK</Code>")) + std::string(30000, 'z');
  http.SetHandler([&](const auto&) {
    FakeHttpReply r = FakeHttpReply::Ok(body);
    r.break_after = 20000;
    r.read_failure = Status::Error(ErrorKind::Timeout, "timed out");
    return r;
  });
  run = Exchange(http);
  EXPECT_EQ(run.outcome.kind(), OutcomeKind::NetworkFailure);
  EXPECT_TRUE(run.outcome.network_reason().Is(ErrorKind::Timeout));
}

TEST(Answers, OutcomeStatesBeforeAnyAnswer) {
  RequestOutcome o;
  EXPECT_EQ(o.Text(), "Unknown error.");
  o.SetInvalidAnswer();
  EXPECT_EQ(o.Text(), kInvalid);
  o.Begin();
  o.SetInvalidAnswer();
  o.SetSucceeded();
  EXPECT_EQ(o.Text(), "Succeeded.");
  // Kind 3 with code 5: the client never reached the service.
  auto doc = LoadAnswerDocument("<KV><Result><Code>OldClientVersion</Code></Result></KV>");
  ASSERT_TRUE(doc);
  RequestOutcome fresh;
  EXPECT_FALSE(fresh.ReadResult(*doc->Find("KV")));
  EXPECT_EQ(fresh.ResultCode(), AnswerCode::OldClientVersion);
}

TEST(Requests, EachModeGoesWhereTheTableSays) {
  FakeHttpTransport http([](const auto&) {
    return FakeHttpReply::Ok(AnswerZip(WithResult("<Code>OK</Code>")));
  });
  ServiceConnection service(http, Config());
  RequestOutcome outcome;
  const ClientIdentity me{"", "{GUID}", "", "d41d8cd98f00b204e9800998ecf8427e"};
  ASSERT_TRUE(service.SendDocument(RequestMode::AddPrograms, me, "17", "<KV/>", outcome));
  ASSERT_TRUE(service.SendDocument(RequestMode::AddUsageLog, me, "17", "<KV/>", outcome));
  const auto sent = http.exchanges();
  ASSERT_EQ(sent.size(), 2u);

  EXPECT_EQ(sent[0].target.path, "/kv.php?mode=add_programs");
  EXPECT_EQ(sent[0].target.host, "site.example");
  EXPECT_EQ(sent[1].target.path, "/kv.php?mode=add_usagelog");
  EXPECT_EQ(sent[1].target.host, "upload.example");
  EXPECT_TRUE(sent[1].target.secure);

  // Fields in order; no `id` without one, and `email` falls back to it.
  const std::string& body = sent[0].body;
  std::vector<std::string> names;
  for (std::size_t at = body.find("; name=\""); at != std::string::npos;
       at = body.find("; name=\"", at + 1)) {
    names.push_back(body.substr(at + 8, body.find('"', at + 8) - at - 8));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"client_build", "GUID", "email", "password",
                                             "zipfile", "Submit"}));
  EXPECT_NE(body.find("filename=\"report.zip\""), std::string::npos);
  EXPECT_NE(sent[1].body.find("filename=\"log.zip\""), std::string::npos);

  // The file part holds one entry under the mode's name.
  const std::size_t start = body.find("PK\x03\x04");
  const std::size_t end = body.find("\r\n--" + std::string(kMultipartBoundary), start);
  auto entries = ReadZipArchive(body.substr(start, end - start));
  ASSERT_TRUE(entries);
  ASSERT_EQ(entries->size(), 1u);
  EXPECT_EQ((*entries)[0].name, "report.xml");
  EXPECT_EQ((*entries)[0].data, "<KV/>");

  EXPECT_EQ(RequestPath(RequestMode::GetId), "/kv.php?mode=get_id");
  EXPECT_EQ(ShapeOf(RequestMode::UploadIcons).host, ServiceHost::Upload);
  EXPECT_EQ(ShapeOf(RequestMode::RateProgram).encoding, FormEncoding::UrlEncoded);
}

TEST(Requests, IdentityFieldsAndTheClientBuild) {
  platform::FakeHttpTransport http;
  FormPoster form(http);
  AddIdentityFields(form, {"42", "{G}", "", "pw"}, "17");
  ASSERT_TRUE(form.PostUrlEncoded({}, "/"));
  EXPECT_EQ(http.exchanges().at(0).body, "client_build=17&id=42&GUID=%7BG%7D&email=42&password=pw");

  inventory::FileVersionInfo own;
  inventory::ParseVersion("1.0.17", own.FixedProductVersion);
  EXPECT_EQ(ClientBuildOf(own), "17");
  inventory::ParseVersion("2.1", own.FixedProductVersion);
  EXPECT_EQ(ClientBuildOf(own), "???");
}

TEST(ZipArchive, AHeaderClaimingMoreThanTheDataHoldsIsDamage) {
  std::string zip = Zip({{"report.xml", WithResult("<Code>OK</Code>")}});
  // The central directory's uncompressed size (offset 24 of its entry).
  const std::size_t central = zip.find("PK\x01\x02");
  ASSERT_NE(central, std::string::npos);
  zip[central + 24] = static_cast<char>(static_cast<unsigned char>(zip[central + 24]) + 1);
  EXPECT_TRUE(ReadZipArchive(zip).status().Is(ErrorKind::Corrupt));
  // An update address is never carried over from an earlier answer.
  RequestOutcome o;
  o.SetInvalidAnswer();
  auto old = LoadAnswerDocument("<KV><Result><Code>OldClientVersion</Code><UpdateUrl>u</UpdateUrl></Result></KV>");
  o.ReadResult(*old->Find("KV"));
  auto bare = LoadAnswerDocument("<KV><Result><Code>OldClientVersion</Code></Result></KV>");
  o.ReadResult(*bare->Find("KV"));
  EXPECT_EQ(o.update_url(), "");
}

TEST(ZipArchive, EntriesRoundTripInOrder) {
  std::string binary;
  for (int i = 0; i < 70000; ++i) binary += static_cast<char>(i * 31);
  const std::vector<ZipEntry> in = {{"a.xml", "<KV/>"}, {"empty", ""}, {"bin", binary}};
  auto bytes = WriteZipArchive(in);
  ASSERT_TRUE(bytes);
  auto out = ReadZipArchive(*bytes);
  ASSERT_TRUE(out);
  ASSERT_EQ(out->size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ((*out)[i].name, in[i].name);
    EXPECT_EQ((*out)[i].data, in[i].data);
  }
  // The same entries give the same bytes (no clock in the archive).
  EXPECT_EQ(*WriteZipArchive(in), *bytes);
  // Only the wanted entries are kept; the others are still checked.
  auto kept = ReadZipArchive(*bytes, {}, [](std::string_view n) { return n == "bin"; });
  ASSERT_TRUE(kept);
  ASSERT_EQ(kept->size(), 1u);
  EXPECT_EQ(kept->front().data, binary);
  auto tight = ReadZipArchive(*bytes, {2, 1u << 20});
  EXPECT_TRUE(tight.status().Is(ErrorKind::Corrupt));
}

}  // namespace
}  // namespace kv::service
