#include "fb/fib.h"

#include <gtest/gtest.h>

#include <vector>

#include "FbTestSupport.h"
#include "fb/FIBDatabase.h"
#include "fb/IB_Intf.h"

namespace {

// Drives the fake client library: attaches fail with a chosen code and the error
// routines find chosen texts.
class ServerErrorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = fbtest::FakeClientPath("full");
    reinterpret_cast<void (*)()>(fbtest::FakeEntry(path_, "fake_reset"))();
    reinterpret_cast<void (*)(long)>(fbtest::FakeEntry(path_, "fake_fail_attach"))(335544344);
    module_.SetName("DorvanaWebInterface");
    db_ = new TFIBDatabase(&module_);
    db_->SetName("Database");
    db_->SetLibraryName(path_);
    db_->SetDBName("x.fdb");
  }
  void Script(int sqlcode, const char* sqlText, std::vector<const char*> lines) {
    lines_ = std::move(lines);
    reinterpret_cast<void (*)(int, const char*, const char**, int)>(fbtest::FakeEntry(
        path_, "fake_set_texts"))(sqlcode, sqlText, lines_.data(), static_cast<int>(lines_.size()));
  }
  EFIBInterBaseError Connect() {
    try {
      db_->SetConnected(true);
    } catch (const EFIBInterBaseError& e) {
      return e;
    }
    ADD_FAILURE() << "connected";
    return EFIBInterBaseError("");
  }

  std::string path_;
  std::vector<const char*> lines_;
  TComponent module_;
  TFIBDatabase* db_;
};

TEST_F(ServerErrorTest, LinesAreCapitalisedAndEndWithAFullStop) {
  const struct {
    const char* sqlText;
    std::vector<const char*> lines;
    const char* message;
  } kCases[] = {
      {"unsuccessful metadata update",
       {"i/o error", "file not found."},
       "DorvanaWebInterface.Database:\r\nUnsuccessful metadata update.\r\nI/o error.\r\n"
       "File not found.\r\n"},
      // An SQL-code text ending with "." runs on into the first status line.
      {"Exception raised.",
       {"exception 1", "EX_RESTAURANT_NO_CARD", "no card"},
       "DorvanaWebInterface.Database:\r\nException raised.Exception 1.\r\n"
       "EX_RESTAURANT_NO_CARD.\r\nNo card.\r\n"},
      // Only ASCII small letters are capitalised; empty texts are no lines.
      {"",
       {"\xEA\xE0\xF0\xF2\xE0 \xED\xE5 \xED\xE0\xE9\xE4\xE5\xED\xE0", "", "x"},
       "DorvanaWebInterface.Database:\r\n\xEA\xE0\xF0\xF2\xE0 \xED\xE5 \xED\xE0\xE9\xE4\xE5\xED"
       "\xE0.\r\nX.\r\n"},
      // Escaped line breaks go; a real one inside a text stays.
      {"lock conflict\\n on no wait",
       {"line one\r\nline two"},
       "DorvanaWebInterface.Database:\r\nLock conflict on no wait.\r\nLine one\r\nline two.\r\n"},
      // One pass: a backslash left before "n" by the removal stays.
      {"a\\\\nn", {}, "DorvanaWebInterface.Database:\r\nA\\n.\r\n"},
      {"", {}, "DorvanaWebInterface.Database:\r\n"},
  };
  for (const auto& c : kCases) {
    Script(-902, c.sqlText, c.lines);
    EXPECT_EQ(c.message, Connect().Message()) << c.sqlText;
  }
  EXPECT_FALSE(db_->Connected());
}

TEST_F(ServerErrorTest, FieldsDescribeTheFailure) {
  Script(-551, "no permission", {"no permission for read access"});
  const EFIBInterBaseError e = Connect();
  EXPECT_EQ("EFIBInterBaseError", e.ClassName());
  EXPECT_EQ(-551, e.SqlCode);
  EXPECT_EQ(335544344, e.FirstErrorCode);
  EXPECT_EQ("DorvanaWebInterface.Database", e.SourceName);
  EXPECT_EQ("No permission.\r\n", e.SqlText);
  EXPECT_EQ("No permission for read access.\r\n", e.ServerText);
  EXPECT_EQ("", e.CustomText);
  EXPECT_EQ(db_, e.Source);
}

TEST_F(ServerErrorTest, ShortOrMissingNamesLeaveOutTheNameLine) {
  Script(-902, "failed", {"reason"});
  IIBClientLibraryRef library = AcquireClientLibrary(path_);
  EXPECT_EQ("Failed.\r\nReason.\r\n", ServerError(*library, nullptr).Message());
  TComponent single;
  single.SetName("D");
  EXPECT_EQ("Failed.\r\nReason.\r\n", ServerError(*library, &single).Message());
  single.SetName("DB");
  EXPECT_EQ("DB:\r\nFailed.\r\nReason.\r\n", ServerError(*library, &single).Message());
}

TEST(ClientError, MessagesAreFormattedAlone) {
  const struct {
    int number;
    std::initializer_list<TFormatArg> args;
    const char* message;
  } kCases[] = {
      {fbceDatabaseClosed,
       {"DorvanaWebInterface.Database"},
       "DorvanaWebInterface.Database: Cannot perform operation -- DB is not open."},
      {fbceNotInTransaction, {"T"}, "T :Transaction is not active."},
      {fbceCannotPost, {"Q"}, "Can't post. (Q) "},
      {fbceWindowsAPIError, {5, 255}, "Windows API error. (Windows error 5 [$000000FF])"},
      {fbceSQLParseError, {"Q", "bad"}, "SQL Parse Error in :Q \r\n\r\nbad"},
      {fbceFB2feature,
       {"X"},
       "X is an Firebird 2 function. Please upgrade to Firebird 2 to use this functonality"},
  };
  for (const auto& c : kCases) {
    try {
      RaiseClientError(c.number, c.args);
      FAIL() << c.number;
    } catch (const EFIBClientError& e) {
      EXPECT_EQ(c.message, e.Message()) << c.number;
      EXPECT_EQ(c.number, e.SqlCode);
      EXPECT_EQ(c.message, e.CustomText);
      EXPECT_EQ("", e.SourceName);
      EXPECT_EQ(nullptr, e.Source);
    }
  }
  EXPECT_STREQ("", FIBClientMessage(kFIBClientMessageCount));
  EXPECT_STREQ("Unknown error.", FIBClientMessage(0));
}

}  // namespace

// The codes the server reports, as its documentation numbers them.
TEST(WriteConflict, ClassifiesTheServersFirstCode) {
  const struct {
    int code;
    bool lock;
    bool unique;
  } kCases[] = {
      {335544336, true, false},   // deadlock
      {335544345, true, false},   // lock conflict on no wait transaction
      {335544451, true, false},   // update conflicts with concurrent update
      {335544349, false, true},   // attempt to store duplicate value
      {335544665, false, true},   // violation of PRIMARY or UNIQUE KEY constraint
      {335544344, false, false},  // I/O error
      {335544466, false, false},  // violation of FOREIGN KEY constraint
      {0, false, false},
  };
  for (const auto& c : kCases) {
    EFIBInterBaseError e("m");
    e.FirstErrorCode = c.code;
    EXPECT_EQ(c.lock, IsLockConflict(e)) << c.code;
    EXPECT_EQ(c.unique, IsUniqueViolation(e)) << c.code;
  }
}

// A connection that is gone, by the codes the client library and the server
// report; the layer's own errors never count, whatever code the status vector
// still held when they were raised.
TEST(ConnectionLost, ClassifiesTheFirstCodeOfServerErrors) {
  const struct {
    int code;
    bool lost;
  } kCases[] = {
      {335544721, true},   // unable to complete network request to host
      {335544726, true},   // error reading data from the connection
      {335544727, true},   // error writing data to the connection
      {335544741, true},   // connection lost to database
      {335544648, true},   // connection lost to pipe server
      {335544528, true},   // database shutdown
      {335544856, true},   // connection shutdown
      {335544722, false},  // failed to establish a connection: a connect, not a loss
      {335544344, false},  // I/O error
      {335544345, false},  // lock conflict
      {335544324, false},  // invalid database handle
      {0, false},
  };
  for (const auto& c : kCases) {
    EFIBInterBaseError server("m");
    server.FirstErrorCode = c.code;
    EXPECT_EQ(c.lost, IsConnectionLost(server)) << c.code;
    EFIBClientError client("m");
    client.FirstErrorCode = c.code;
    EXPECT_FALSE(IsConnectionLost(client)) << c.code;
  }
}
