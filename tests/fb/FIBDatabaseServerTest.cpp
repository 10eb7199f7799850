#include <gtest/gtest.h>

#include "SessionTestBase.h"
#include "fb/fib.h"

namespace {

using fbtest::TSession;

// One database on the server at 127.0.0.1 for the suite, owned by the test account.
class ServerSessionTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!fbtest::ServerAvailable()) return;
    folder_ = new fbtest::TTempFolder;
    name_ = "127.0.0.1:" + folder_->Path() + "/server.fdb";
    fbtest::CreateDatabase(name_, "CREATE TABLE ORDERS (ID INTEGER);", "DORVANA", "dorvana");
  }
  static void TearDownTestSuite() {
    delete folder_;
    folder_ = nullptr;
  }
  void SetUp() override {
    if (!folder_) GTEST_SKIP() << "no Firebird server on 127.0.0.1 (scripts/fbserver.sh start)";
  }
  static std::string FailureOf(const std::string& dbName, const std::string& password) {
    TSession s(dbName, "DORVANA", password);
    try {
      s.db->SetConnected(true);
    } catch (const EFIBInterBaseError& e) {
      EXPECT_FALSE(s.db->Connected());
      return e.Message();
    }
    return "connected";
  }
  static fbtest::TTempFolder* folder_;
  static std::string name_;
};
fbtest::TTempFolder* ServerSessionTest::folder_ = nullptr;
std::string ServerSessionTest::name_;

TEST_F(ServerSessionTest, AttachesThroughTheServer) {
  TSession s(name_, "DORVANA", "dorvana");
  s.db->SetConnected(true);
  EXPECT_TRUE(s.db->IsFirebird());
  EXPECT_GT(s.db->AttachmentID(), 0);
  s.read->StartTransaction();
  s.read->Commit();
}

TEST_F(ServerSessionTest, RefusedAttachesNameTheConnection) {
  const std::string kCases[][2] = {
      {name_, "wrong"},
      {"127.0.0.1/1:" + folder_->Path() + "/server.fdb", "dorvana"},  // nothing listens
      {"127.0.0.1:" + folder_->Path() + "/absent.fdb", "dorvana"},
  };
  for (const auto& c : kCases) {
    const std::string m = FailureOf(c[0], c[1]);
    EXPECT_EQ(0u, m.find("DorvanaWebInterface.Database:\r\n")) << c[0] << ": " << m;
    EXPECT_EQ(".\r\n", m.substr(m.size() - 3)) << m;
  }
}

TEST_F(ServerSessionTest, ModuleDestructionRollsBackWhatIsActive) {
  const int before = fbtest::CountOrders(name_, "DORVANA", "dorvana");
  {
    TSession s(name_, "DORVANA", "dorvana");
    s.db->SetConnected(true);
    s.rw->StartTransaction();
    fbtest::ExecImmediate(*s.db, *s.rw, "INSERT INTO ORDERS VALUES (1)");
  }
  EXPECT_EQ(before, fbtest::CountOrders(name_, "DORVANA", "dorvana"));
}

}  // namespace
