#include <gtest/gtest.h>

#include <thread>

#include "app/activity_log.h"
#include "app/log_messages.h"
#include "platform/fake/fake_machine.h"

namespace kv::app {
namespace {

using platform::CalendarTime;
using platform::FileOp;

constexpr char kLogPath[] = "C:\\Users\\user\\AppData\\Roaming\\Korvan\\korvapp.exe.PUL";

class ActivityLogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m.files.AddFolder("C:\\Users\\user\\AppData\\Roaming\\Korvan");
    log.Open("Korvan", true, "C:\\Users\\user\\AppData\\Roaming\\");
  }
  platform::FakeMachine m;
  ActivityLog log{m.machine};
};

TEST_F(ActivityLogTest, PathIsTheExecutableNameInTheProductFolder) {
  EXPECT_EQ(log.Path(), kLogPath);
  m.shell.SetExecutablePath("korvapp.exe");
  log.Open("Korvan", true, "C:\\x\\");
  EXPECT_EQ(log.Path(), "");
  log.Open("D:\\logs\\my.log", false, "C:\\x\\");
  EXPECT_EQ(log.Path(), "D:\\logs\\my.log");
}

TEST_F(ActivityLogTest, DisabledLogWritesNothingAndCreatesNoFile) {
  log.Write(msg::kExitByUser);
  log.Flush();
  EXPECT_EQ(log.Buffered(), "");
  EXPECT_FALSE(m.files.Exists(kLogPath));
}

TEST_F(ActivityLogTest, LinesCarryTheLocalTimeStampAndCrLf) {
  log.SetDisabled(false);
  m.clock.SetLocal(CalendarTime{2008, 12, 31, 23, 59, 59, 999});
  log.Write(msg::kSwitchedAutorun, "on");
  EXPECT_EQ(log.Buffered(), "(31.12.2008, 23:59:59) User switched on autorun.\r\n");
  m.clock.SetLocal(CalendarTime{2009, 1, 2, 3, 4, 5, 0});
  log.Write("x");
  EXPECT_EQ(log.Buffered().substr(50), "(02.01.2009, 03:04:05) x\r\n");
}

TEST_F(ActivityLogTest, FlushAppendsAndEmptiesTheBuffer) {
  log.SetDisabled(false);
  m.files.AddFile(kLogPath, "earlier\r\n");
  log.Write("one");
  log.Flush();
  EXPECT_EQ(log.Buffered(), "");
  log.Write("two");
  log.Flush();
  const std::string content = *m.files.ReadAll(kLogPath);
  EXPECT_EQ(content.rfind("earlier\r\n", 0), 0u);
  EXPECT_NE(content.find("one\r\n"), std::string::npos);
  EXPECT_EQ(content.substr(content.size() - 5), "two\r\n");
}

TEST_F(ActivityLogTest, FailedFlushKeepsTheTextForTheNextOne) {
  log.SetDisabled(false);
  log.Write("kept");
  bool fail = true;
  m.files.SetFaultHook([&](FileOp op, std::string_view) { return fail && op == FileOp::Create; });
  log.Flush();
  EXPECT_NE(log.Buffered().find("kept"), std::string::npos);
  fail = false;
  log.Flush();
  EXPECT_NE(m.files.ReadAll(kLogPath)->find("kept\r\n"), std::string::npos);
}

TEST_F(ActivityLogTest, LongMessagesAreCutToTheLineBufferOnACharacterBoundary) {
  log.SetDisabled(false);
  std::string huge(20000, 'a');
  huge[9997] = '\xC3';  // an "é" straddling the cut
  huge[9998] = '\xA9';
  log.Write("%s", huge.c_str());
  const std::string line = log.Buffered();
  const std::string message = line.substr(line.find(") ") + 2);
  EXPECT_LE(message.size(), ActivityLog::kLineBufferBytes);
  EXPECT_EQ(message.substr(message.size() - 3), "a\r\n");
}

TEST_F(ActivityLogTest, ConcurrentWritersNeverInterleaveInsideALine) {
  log.SetDisabled(false);
  const std::string a(300, 'a'), b(300, 'b');
  std::thread t1([&] { for (int i = 0; i < 500; ++i) log.Write("%s", a.c_str()); });
  std::thread t2([&] { for (int i = 0; i < 500; ++i) log.Write("%s", b.c_str()); });
  std::thread t3([&] { for (int i = 0; i < 50; ++i) log.Flush(); });
  t1.join(), t2.join(), t3.join();
  log.Flush();
  const std::string content = *m.files.ReadAll(kLogPath);
  std::size_t lines = 0;
  for (std::size_t pos = 0; pos < content.size();) {
    const std::size_t end = content.find("\r\n", pos);
    ASSERT_NE(end, std::string::npos);
    const std::string body = content.substr(pos + 23, end - pos - 23);
    EXPECT_TRUE(body == a || body == b);
    pos = end + 2;
    ++lines;
  }
  EXPECT_EQ(lines, 1000u);
}

}  // namespace
}  // namespace kv::app
