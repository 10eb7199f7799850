// The terminal commands in-process against the scripted client library
// (tests/fakes/ScriptedClient.c), which ctest puts first on the loader's path
// under the client library's name: the answers and failures no real server
// gives on cue, such as a write conflict with a concurrent import.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "tests/service/ServeModule.h"

namespace {

namespace fs = std::filesystem;

const char kDecl[] = "<?xml version='1.0' encoding='Utf-8' standalone='yes' ?>";
// The status codes of the client library (its header names them).
const char kUniqueKeyViolation[] = "335544665";
const char kArithmeticError[] = "335544321";

// A folder per test, the working directory, with a settings file and the
// script (scripted_client.txt, where the library looks when no variable names
// one); the library's log of calls goes to calls.log beside it.
class Scripted : public ::testing::Test {
 protected:
  void SetUp() override {
    FOld = fs::current_path();
    FDir = fs::temp_directory_path() /
           ("dorvana-scripted-" +
            std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()));
    fs::remove_all(FDir);
    fs::create_directories(FDir);
    fs::current_path(FDir);
    std::ofstream("dorvana.def", std::ios::binary)
        << "SERVER NAME=scripted.fdb\r\nUSER NAME=U\r\nPASSWORD=P\r\n";
  }
  void TearDown() override {
    fs::current_path(FOld);
    fs::remove_all(FDir);
  }

  // The script: the log, the server's date the program asks first (15 March
  // 2023), then text.
  void Script(const std::string& text) {
    std::ofstream("scripted_client.txt", std::ios::binary)
        << "log " << (FDir / "calls.log").string() << "\n"
        << "on CAST('NOW'\ncolumn CAST timestamp\nrow 60018 0\n"
        << text;
  }
  // The calls the library logged, one a line, joined by " / ".
  std::string Calls() const {
    std::ifstream in(FDir / "calls.log");
    std::string line, all;
    while (std::getline(in, line)) all += (all.empty() ? "" : " / ") + line;
    return all;
  }
  static std::string Body(const std::string& answer) {
    const size_t at = answer.find("\r\n\r\n");
    return at == std::string::npos ? answer : answer.substr(at + 4);
  }

  fs::path FOld, FDir;
};

// The duplicate check: how many imported orders carry the GUID.
std::string CountStatement(int count) {
  return "on select count(id)\nparam varchar 100\ncolumn CNT int\nrow " + std::to_string(count) +
         "\n";
}

const char kOrder[] =
    "<ORDER><GUID>g-1</GUID><DEVICEID>HALL-1</DEVICEID><PIN>1001</PIN><TABLE>5</TABLE>"
    "<FOODS><f>301<count>1</count><weight>0</weight><isModificator>no</isModificator></f>"
    "</FOODS></ORDER>";

// The order's header insert fails; the import then reads the order again,
// waiting for a concurrent import of it to end only when the failure was a
// write conflict, and answers "ok" only when the order is there.
TEST_F(Scripted, AFailedInsertIsAnsweredByWhatTheDatabaseHolds) {
  // The error line answered when the order is not stored: the failed insert's.
  const char kRefused[] =
      "DorvanaWebInterface.QueryOrder:\r\nSQL error code = -803.\r\nViolation of PRIMARY or "
      "UNIQUE KEY constraint \"UQ_GUID\".\r\n";
  // The server's date (0), the duplicate check (1), the failed insert (2), and
  // the second read (3) in a transaction that waits for the other import.
  const char kConflictCalls[] =
      "attach / start nowait / execute 0 / commit / start nowait / execute 1 / commit / "
      "start nowait / execute 2 failed / rollback / start wait / execute 3 / commit / detach";
  const struct {
    const char* name;
    const char* code;  // of the failed insert
    int found;         // orders the second read finds
    const char* reply;
    const char* calls;
  } kCases[] = {
      {"conflict, the other import kept it", kUniqueKeyViolation, 1, "ok", kConflictCalls},
      {"conflict, the other import rolled back", kUniqueKeyViolation, 0, kRefused, kConflictCalls},
      {"no conflict, not stored", kArithmeticError, 0, kRefused,
       "attach / start nowait / execute 0 / commit / start nowait / execute 1 / commit / "
       "start nowait / execute 2 failed / rollback / start nowait / execute 3 / commit / detach"},
  };
  for (const auto& c : kCases) {
    Script("sqlcode -803\nline violation of PRIMARY or UNIQUE KEY constraint \"UQ_GUID\"\n" +
           CountStatement(0) +
           "on ImportedOrders (id\ntype insert\nparam varchar 100\nparam varchar 100\n"
           "param varchar 100\nparam int\nexecute " +
           c.code + "\n" + CountStatement(c.found));
    fs::remove(FDir / "calls.log");
    EXPECT_EQ(c.reply, Body(ServeModule("POST", "q=addorder", kOrder, "", 1 << 20))) << c.name;
    EXPECT_EQ(c.calls, Calls()) << c.name;
  }
}

// The deadline (1 s) passes while the import's commit runs (1.5 s) and the
// commit then succeeds: the connection is cut off (cancel 4, the abort) and
// closed, but the answer stays "ok".
TEST_F(Scripted, ADeadlineDuringACommitThatSucceedsLeavesTheOrderOk) {
  std::ofstream("dorvana.def", std::ios::binary)
      << "SERVER NAME=scripted.fdb\r\nUSER NAME=U\r\nREQUEST TIMEOUT=1\r\n";
  // The commits: the server's date, the duplicate check, the import.
  Script("delay 3 1500\n" + CountStatement(0) +
         "on ImportedOrders (id\ntype insert\nparam varchar 100\nparam varchar 100\n"
         "param varchar 100\nparam int\n"
         "on ImportedOrderRows\ntype insert\nparam varchar 100\nparam int\nparam int\n"
         "param int\nparam int\non restaurant_importorders\ntype exec\nparam varchar 100\n");
  EXPECT_EQ("ok", Body(ServeModule("POST", "q=addorder", kOrder, "", 1 << 20)));
  EXPECT_EQ(
      "attach / start nowait / execute 0 / commit / start nowait / execute 1 / commit / "
      "start nowait / execute 2 / execute 3 / execute 4 / commit / cancel 4 / detach",
      Calls());
}

// A list carried through the whole database path: prepare, describe, execute
// and fetch of the client library, a NULL and text to escape among the values.
TEST_F(Scripted, StewardsComeFromTheRowsFetched) {
  Script(
      "on RESTAURANT_WAITERS\n"
      "column CODE varchar 20\ncolumn NAME varchar 60\n"
      "row 1005 |  Volkova  \n"
      "row \\N|Kim & <Li>\n"
      "row 7|\n");
  const std::string answer = ServeModule("GET", "q=getsprstewards", "", "", 1 << 20);
  EXPECT_EQ(std::string(kDecl) +
                "\r<stewards>\r<steward><pin>1005</pin>Volkova</steward>"
                "\r<steward><pin></pin>Kim &amp; &lt;Li&gt;</steward>"
                "\r<steward><pin>7</pin></steward>\r</stewards>",
            Body(answer))
      << answer;
  EXPECT_EQ(
      "attach / start nowait / execute 0 / commit / start nowait / execute 1 / commit / detach",
      Calls());
}

// A connect that fails after the attach (the server's date cannot be asked)
// leaves no connection behind: the next request of the same process attaches
// anew and is answered as a fresh process would answer it.
TEST_F(Scripted, AConnectFailingAfterTheAttachLeavesNoConnectionForTheNextRequest) {
  TFakeChannel channel;
  TCGIApplication app(channel);
  app.RegisterModuleClass(WebModuleClass<TDorvanaWebInterface>("TDorvanaWebInterface"));
  const auto serve = [&] {
    channel.Output.clear();
    channel.Env = {{"SERVER_PROTOCOL", "HTTP/1.1"},
                   {"REQUEST_METHOD", "GET"},
                   {"QUERY_STRING", "q=getsprstewards"}};
    app.Run();
    return channel.Output;
  };
  std::ofstream("scripted_client.txt", std::ios::binary)
      << "log " << (FDir / "calls.log").string() << "\n";
  const std::string failed = serve();
  EXPECT_NE(std::string::npos, failed.find("Content-Type: text/plain")) << failed;
  EXPECT_EQ("attach / start nowait / rollback / detach", Calls());
  fs::remove(FDir / "calls.log");
  Script("on RESTAURANT_WAITERS\ncolumn CODE varchar 20\ncolumn NAME varchar 60\nrow 7|\n");
  EXPECT_EQ(std::string(kDecl) + "\r<stewards>\r<steward><pin>7</pin></steward>\r</stewards>",
            Body(serve()));
  EXPECT_EQ(0u, Calls().find("attach / start nowait / execute 0 / commit")) << Calls();
}

// A failing attach is answered with its message, as text.
TEST_F(Scripted, AFailedAttachIsAnsweredAsText) {
  Script("attach 335544721\nline Unable to complete network request to host \"db\".\n");
  const std::string answer = ServeModule("GET", "q=getsprstewards", "", "", 1 << 20);
  EXPECT_NE(std::string::npos, answer.find("Content-Type: text/plain")) << answer;
  EXPECT_EQ(0u, Body(answer).find("DorvanaWebInterface.Database:\r\n")) << answer;
  EXPECT_EQ("attach", Calls());  // and no detach of what never attached
}

}  // namespace
