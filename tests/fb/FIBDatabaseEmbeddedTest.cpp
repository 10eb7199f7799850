#include <gtest/gtest.h>

#include "SessionTestBase.h"
#include "fb/FIBInternal.h"
#include "fb/IB_CallCounter.h"
#include "fb/fib.h"
#include "runtime/Text.h"

namespace {

using fbtest::TSession;

// One database of the embedded engine for the suite.
class EmbeddedSessionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    folder_ = new fbtest::TTempFolder;
    path_ = folder_->Path() + "/sessions.fdb";
    fbtest::CreateDatabase(path_,
                           "CREATE TABLE ORDERS (ID INTEGER);\n"
                           // A Cyrillic message text in Windows-1251.
                           "CREATE EXCEPTION EX_RESTAURANT_NO_CARD "
                           "'\xEA\xE0\xF0\xF2\xE0 \xED\xE5 \xED\xE0\xE9\xE4\xE5\xED\xE0';\n"
                           "CREATE EXCEPTION EX_RESTAURANT_CLOSED 'station is closed.';\n");
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  static fbtest::TTempFolder* folder_;
  static std::string path_;
};
fbtest::TTempFolder* EmbeddedSessionTest::folder_ = nullptr;
std::string EmbeddedSessionTest::path_;

TEST_F(EmbeddedSessionTest, ConnectReadsTheDatabaseFacts) {
  TSession s(path_, "SYSDBA", "");
  // The connection asks the server's clock through a statement of its own.
  TIBCallCounter counter(*AcquireClientLibrary("fbclient.dll"));
  s.db->SetConnected(true);
  EXPECT_TRUE(s.db->Connected());
  EXPECT_EQ(1u, counter.Count(TIBEntry::isc_dsql_prepare));
  EXPECT_FALSE(s.db->InternalTransaction()->Active());
  EXPECT_GT(s.db->AttachmentID(), 0);
  EXPECT_TRUE(s.db->IsFirebird());
  EXPECT_GE(s.db->ServerMajorVersion(), 3);
  EXPECT_FALSE(s.db->UnicodeOrNoneConnection());
  // A dialect-3 database leaves the configured dialect 1 alone, and allows 3 but
  // not more.
  EXPECT_EQ(1, s.db->SQLDialect());
  s.db->SetSQLDialect(3);
  EXPECT_THROW(s.db->SetSQLDialect(4), EFIBClientError);
  s.db->SetConnected(false);
  EXPECT_FALSE(s.db->Connected());
}

TEST_F(EmbeddedSessionTest, FailedAttachNamesTheConnectionAndTheCause) {
  TSession s(folder_->Path() + "/missing.fdb", "SYSDBA", "");
  try {
    s.db->SetConnected(true);
    FAIL() << "attached a missing database";
  } catch (const EFIBInterBaseError& e) {
    const std::string& m = e.Message();
    EXPECT_EQ(0u, m.find("DorvanaWebInterface.Database:\r\n")) << m;
    EXPECT_NE(std::string::npos, m.find("missing.fdb")) << m;
    // Every line ends with CR LF, and every line after the name with ".".
    ASSERT_GE(m.size(), 3u);
    EXPECT_EQ(".\r\n", m.substr(m.size() - 3));
    EXPECT_EQ(std::string::npos, m.find("\r\n\r\n")) << m;
    EXPECT_EQ(s.db, e.Source);
  }
  EXPECT_FALSE(s.db->Connected());
  // The same connection attaches once the name is right.
  s.db->SetDBName(path_);
  s.db->SetConnected(true);
  EXPECT_TRUE(s.db->Connected());
}

TEST_F(EmbeddedSessionTest, CommitKeepsAndModuleDestructionRollsBack) {
  const int before = fbtest::CountOrders(path_, "SYSDBA", "");
  {
    TSession s(path_, "SYSDBA", "");
    s.db->SetConnected(true);
    s.rw->StartTransaction();
    fbtest::ExecImmediate(*s.db, *s.rw, "INSERT INTO ORDERS VALUES (1)");
    s.rw->Commit();
    s.rw->StartTransaction();
    fbtest::ExecImmediate(*s.db, *s.rw, "INSERT INTO ORDERS VALUES (2)");
    // The module goes with the transaction still active.
  }
  EXPECT_EQ(before + 1, fbtest::CountOrders(path_, "SYSDBA", ""));
}

TEST_F(EmbeddedSessionTest, ReadTransactionRefusesWrites) {
  TSession s(path_, "SYSDBA", "");
  s.db->SetConnected(true);
  s.read->StartTransaction();
  try {
    fbtest::ExecImmediate(*s.db, *s.read, "INSERT INTO ORDERS VALUES (3)");
    FAIL() << "wrote in a read-only transaction";
  } catch (const EFIBInterBaseError& e) {
    EXPECT_EQ(0u, e.Message().find("DorvanaWebInterface.TransactionRead:\r\n")) << e.Message();
  }
  s.read->Rollback();
}

TEST_F(EmbeddedSessionTest, UserExceptionMessageFollowsItsName) {
  const struct {
    const char* name;
    const char* line;
  } kCases[] = {
      // A Cyrillic first letter stays; the missing full stop is added.
      {"EX_RESTAURANT_NO_CARD", "\xEA\xE0\xF0\xF2\xE0 \xED\xE5 \xED\xE0\xE9\xE4\xE5\xED\xE0."},
      // An ASCII small letter is capitalised; no second full stop.
      {"EX_RESTAURANT_CLOSED", "Station is closed."},
  };
  TSession s(path_, "SYSDBA", "");
  s.db->SetConnected(true);
  for (const auto& c : kCases) {
    s.rw->StartTransaction();
    try {
      fbtest::ExecImmediate(*s.db, *s.rw,
                            std::string("EXECUTE BLOCK AS BEGIN EXCEPTION ") + c.name + "; END");
      ADD_FAILURE() << c.name << " not raised";
    } catch (const EFIBInterBaseError& e) {
      const std::string nameLine = std::string("\r\n") + c.name + ".\r\n";
      const size_t at = e.Message().find(nameLine);
      ASSERT_NE(std::string::npos, at) << e.Message();
      // The line after the name carries the message text.
      EXPECT_EQ(at + nameLine.size(), e.Message().find(c.line + std::string("\r\n"), at))
          << e.Message();
    }
    s.rw->Rollback();
  }
}

TEST_F(EmbeddedSessionTest, RetainingEndsKeepTheTransaction) {
  TSession s(path_, "SYSDBA", "");
  s.db->SetConnected(true);
  s.rw->StartTransaction();
  s.rw->CommitRetaining();
  EXPECT_TRUE(s.rw->Active());
  s.rw->RollbackRetaining();
  EXPECT_TRUE(s.rw->Active());
  EXPECT_EQ(tsActive, s.rw->TransactionState());
  s.rw->Commit();
  EXPECT_FALSE(s.rw->Active());
}

}  // namespace
