// The program's commands as an operator types them: what they print, what
// they leave in the database, and that a wrong command line changes nothing.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "storage/sqlite_storage.h"

extern char** environ;

namespace kv::server {
namespace {

namespace fs = std::filesystem;

struct Outcome {
  int code = -1;  // the exit code; -1 when killed or out of time
  std::string out, err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/kvcliXXXXXX";
    dir_ = mkdtemp(tmpl);
    db_ = dir_ + "/korvan.db";
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Runs the program. Its default database would land under dir_/xdg, so
  // a command line that forgot --db touches nothing outside the test.
  Outcome Run(const std::vector<std::string>& args) {
    const std::string out_path = dir_ + "/stdout", err_path = dir_ + "/stderr";
    std::vector<char*> argv = {const_cast<char*>(KV_SERVICE_BINARY)};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    const std::string xdg = "XDG_DATA_HOME=" + dir_ + "/xdg";
    std::vector<char*> env;
    for (char** e = environ; *e; ++e)
      if (std::strncmp(*e, "XDG_DATA_HOME=", 14) != 0) env.push_back(*e);
    env.push_back(const_cast<char*>(xdg.c_str()));
    env.push_back(nullptr);
    // Nothing but system calls between fork and exec: the test runner has threads.
    const pid_t pid = fork();
    if (pid == 0) {
      const int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      const int err = open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      if (out < 0 || err < 0) _exit(126);
      dup2(out, 1);
      dup2(err, 2);
      execve(KV_SERVICE_BINARY, argv.data(), env.data());
      _exit(127);
    }
    Outcome o;
    if (pid < 0) return o;
    // A command that should have stopped at once but serves instead fails
    // the test rather than hanging it.
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) {
        kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (WIFEXITED(status)) o.code = WEXITSTATUS(status);
    o.out = ReadAll(out_path);
    o.err = ReadAll(err_path);
    fs::remove(out_path);
    fs::remove(err_path);
    return o;
  }

  // `args` against the test's database.
  Outcome RunOnDb(std::vector<std::string> args) {
    args.insert(args.end(), {"--db", db_});
    return Run(args);
  }

  std::string List(const std::string& text = "") {
    std::vector<std::string> args = {"catalogue", "list"};
    if (!text.empty()) args.push_back(text);
    const Outcome o = RunOnDb(args);
    EXPECT_EQ(o.code, 0) << o.err;
    return o.out;
  }

  std::string WriteFile(const std::string& name, const std::string& text) {
    const std::string path = dir_ + "/" + name;
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  bool AnyDatabase() const { return fs::exists(db_) || fs::exists(dir_ + "/xdg"); }

  std::string dir_, db_;
};

// One catalogue line as `catalogue list` prints it (ids as they come).
std::string Line(int id, const std::string& name, const std::string& publisher,
                 const std::string& stable, const std::string& beta) {
  return std::to_string(id) + "\t" + name + "\t" + publisher + "\t" + stable + "\t" + beta + "\n";
}

TEST_F(CliTest, SetAddsAnUnknownProgramAndThenChangesOnlyWhatIsGiven) {
  Outcome set = RunOnDb({"catalogue", "set", "Foo Bar", "--publisher", "Acme", "--stable", "1.2",
                         "--beta", "1.3 beta 2"});
  ASSERT_EQ(set.code, 0) << set.err;
  EXPECT_EQ(set.out, "1\tFoo Bar\tstable 1.2\tbeta 1.3 beta 2\n");
  EXPECT_EQ(List(), Line(1, "Foo Bar", "Acme", "1.2", "1.3 beta 2"));

  // Found again by its name in any case; the beta stays.
  set = RunOnDb({"catalogue", "set", "foo bar", "--stable", "1.4"});
  ASSERT_EQ(set.code, 0) << set.err;
  EXPECT_EQ(List(), Line(1, "Foo Bar", "Acme", "1.4", "1.3 beta 2"));

  ASSERT_EQ(RunOnDb({"catalogue", "set", "Zed"}).code, 0);
  EXPECT_EQ(List(), Line(1, "Foo Bar", "Acme", "1.4", "1.3 beta 2") + Line(2, "Zed", "", "", ""));
  EXPECT_EQ(List("ze"), Line(2, "Zed", "", "", ""));
}

TEST_F(CliTest, SetRefusesWhatTheCatalogueCouldNotHold) {
  ASSERT_EQ(RunOnDb({"catalogue", "set", "Foo", "--stable", "1.0"}).code, 0);
  const std::string before = List();
  const std::vector<std::vector<std::string>> wrong = {
      {"catalogue", "set", "Foo", "--stable", "latest"},
      {"catalogue", "set", "Foo", "--beta", "soon"},
      {"catalogue", "set", "Foo", "--home-page", "ftp://example.org/"},
      {"catalogue", "set", "  "},
      {"catalogue", "set", "Bad\xC3"},
  };
  for (const auto& args : wrong) {
    const Outcome o = RunOnDb(args);
    EXPECT_NE(o.code, 0) << args[2];
    EXPECT_TRUE(o.err.starts_with("korvan-service: ")) << o.err;
  }
  EXPECT_EQ(List(), before);
}

TEST_F(CliTest, SetOnAnAmbiguousNameWantsThePublisher) {
  const std::string csv = WriteFile("two.csv", "name,publisher\nFoo,Alpha\nFoo,Beta\n");
  ASSERT_EQ(RunOnDb({"catalogue", "import", csv}).code, 0);
  const std::string before = List();

  const Outcome ambiguous = RunOnDb({"catalogue", "set", "Foo", "--stable", "2.0"});
  EXPECT_NE(ambiguous.code, 0);
  EXPECT_NE(ambiguous.err.find("--publisher"), std::string::npos) << ambiguous.err;
  EXPECT_EQ(List(), before);

  ASSERT_EQ(RunOnDb({"catalogue", "set", "Foo", "--publisher", "Beta", "--stable", "2.0"}).code, 0);
  EXPECT_EQ(List(), Line(1, "Foo", "Alpha", "", "") + Line(2, "Foo", "Beta", "2.0", ""));
}

TEST_F(CliTest, ImportAddsRowsAndUpdatesKnownOnes) {
  const std::string first = WriteFile(
      "first.csv",
      "name,publisher,stable,beta,home_page\r\n"
      "7-Zip,Igor Pavlov,23.01,,https://www.7-zip.org/\r\n"
      "\"Epic Games Launcher\",\"Epic Games, Inc.\",15.17,,\r\n");
  Outcome o = RunOnDb({"catalogue", "import", first});
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(o.out, "2 added, 0 updated\n");
  EXPECT_EQ(List(), Line(1, "7-Zip", "Igor Pavlov", "23.01", "") +
                        Line(2, "Epic Games Launcher", "Epic Games, Inc.", "15.17", ""));

  // Known by their keys, whatever the file calls them.
  const std::string second = WriteFile("second.csv",
                                       "publisher,name,stable\n"
                                       "Igor Pavlov,7-Zip 23.01 (x64),24.07\n"
                                       "Epic Games,Epic Games Launcher,15.17\n"
                                       "Mozilla,Mozilla Firefox,121.0\n");
  o = RunOnDb({"catalogue", "import", second});
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(o.out, "1 added, 1 updated\n");
  EXPECT_EQ(List("7-zip"), Line(1, "7-Zip", "Igor Pavlov", "24.07", ""));
}

TEST_F(CliTest, AMalformedImportSaysWhereAndChangesNothing) {
  // Nothing there yet: a failed import makes no database either.
  const std::string broken = WriteFile("broken.csv",
                                       "name,publisher,stable\n"
                                       "Good,Acme,1.0\n"
                                       "Bad,Acme,not a version\n");
  Outcome o = RunOnDb({"catalogue", "import", broken});
  EXPECT_NE(o.code, 0);
  EXPECT_NE(o.err.find(broken), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("line 3"), std::string::npos) << o.err;
  EXPECT_FALSE(AnyDatabase());

  ASSERT_EQ(RunOnDb({"catalogue", "set", "Kept", "--stable", "1.0"}).code, 0);
  const std::string before = List();
  for (const std::string& text : {std::string("name,version\nA,1\n"),
                                  std::string("name,publisher\n\"Open,Acme\n"),
                                  std::string("name,stable\nKept,2.0\nOther,1.0,extra\n")}) {
    o = RunOnDb({"catalogue", "import", WriteFile("bad.csv", text)});
    EXPECT_NE(o.code, 0) << text;
    EXPECT_NE(o.err.find("line "), std::string::npos) << o.err;
  }
  o = RunOnDb({"catalogue", "import", dir_ + "/missing.csv"});
  EXPECT_NE(o.code, 0);
  EXPECT_NE(o.err.find("missing.csv"), std::string::npos) << o.err;
  EXPECT_EQ(List(), before);
}

TEST_F(CliTest, NewsAddIsStoredForClients) {
  Outcome o = RunOnDb({"news", "add", "Korvan 2.0 is out", "--url", "https://example.org/news",
                       "--date", "01.02.2025"});
  ASSERT_EQ(o.code, 0) << o.err;
  EXPECT_EQ(o.out, "news 1\n");
  o = RunOnDb({"news", "add", "Second"});
  ASSERT_EQ(o.code, 0) << o.err;

  auto storage = OpenSqliteStorage(db_);
  ASSERT_TRUE(storage) << storage.status().ToString();
  auto tx = storage->Begin(true);
  ASSERT_TRUE(tx);
  User user;
  user.credential = "x";
  user.is_guest = true;
  const Id machine = *tx->TouchMachine("GUID-1", *tx->AddUser(user), "17", 0);
  const std::vector<NewsItem> news = tx->UnseenNews(machine);
  ASSERT_EQ(news.size(), 2u);
  EXPECT_EQ(news[0].title, "Korvan 2.0 is out");
  EXPECT_EQ(news[0].url, "https://example.org/news");
  EXPECT_EQ(news[0].date, "01.02.2025");
  EXPECT_EQ(news[1].title, "Second");
  EXPECT_EQ(news[1].date.size(), 10u);  // today, dd.mm.yyyy
}

TEST_F(CliTest, AWrongCommandLineSaysSoAndTouchesNoDatabase) {
  const std::vector<std::vector<std::string>> lines = {
      {"frobnicate"},
      {"catalogue"},
      {"catalogue", "remove", "Foo"},
      {"catalogue", "set"},
      {"catalogue", "set", "A", "B"},
      {"catalogue", "set", "A", "--bogus", "1"},
      {"catalogue", "import"},
      {"catalogue", "list", "--publisher", "Acme"},
      {"news"},
      {"news", "add"},
      {"news", "add", " "},
      {"news", "add", "Title", "--stable", "1.0"},
      {"news", "add", "Title", "--url", "javascript:alert(1)"},
      {"serve", "now", "--catalogue", ""},
      {"serve", "--listen", "localhost", "--catalogue", ""},
      {"serve", "--listen", "127.0.0.1:http", "--catalogue", ""},
      {"serve", "--listen", "127.0.0.1:70000", "--catalogue", ""},
      {"serve", "--min-build", "17x", "--catalogue", ""},
      {"serve", "--learn", "0", "--catalogue", ""},
      {"serve", "--site-origin", "korvan.example", "--catalogue", ""},
  };
  const auto check = [&](const std::vector<std::string>& args, const Outcome& o) {
    std::string line;
    for (const std::string& a : args) line += a + " ";
    EXPECT_GT(o.code, 0) << line;
    EXPECT_TRUE(o.err.starts_with("korvan-service: ")) << line << o.err;
    EXPECT_TRUE(o.out.empty()) << line << o.out;
  };
  for (const auto& args : lines) {
    check(args, RunOnDb(args));
    check(args, Run(args));  // the default database
  }
  // A value missing at the end, and a --db that names no file.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"catalogue", "list", "--db"},
        std::vector<std::string>{"catalogue", "set", "Foo", "--db", ""},
        std::vector<std::string>{"--db", db_}}) {
    check(args, Run(args));
  }
  // Reading a database that is not there does not make one.
  check({"catalogue", "list"}, RunOnDb({"catalogue", "list"}));
  EXPECT_FALSE(AnyDatabase());

  // And against a database: nothing in it changes.
  ASSERT_EQ(RunOnDb({"catalogue", "set", "Foo", "--stable", "1.0"}).code, 0);
  const std::string before = List();
  for (const auto& args : lines) RunOnDb(args);
  EXPECT_EQ(List(), before);
}

TEST_F(CliTest, HelpGoesToStandardOutput) {
  for (const std::vector<std::string>& args : {std::vector<std::string>{}, {"help"}}) {
    const Outcome o = Run(args);
    EXPECT_EQ(o.code, 0);
    EXPECT_TRUE(o.out.starts_with("usage: korvan-service")) << o.out;
    EXPECT_TRUE(o.err.empty()) << o.err;
  }
  EXPECT_FALSE(AnyDatabase());
}

}  // namespace
}  // namespace kv::server
