#include "fb/FIBDatabase.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "FbTestSupport.h"
#include "fb/FIBInternal.h"
#include "fb/fib.h"
#include "fb/pFIBDatabase.h"
#include "tests/support/ExpectThrow.h"

namespace {

std::string Hex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : bytes) {
    if (!out.empty()) out += ' ';
    out += kDigits[c >> 4];
    out += kDigits[c & 15];
  }
  return out;
}

// ---- parameter buffers -----------------------------------------------------------

TEST(DatabaseParams, BuildsTheBytesOfEachLine) {
  const struct {
    TStringList lines;
    const char* dpb;
  } kCases[] = {
      // The service's lines: character set, user, password, role.
      {{"lc_ctype=WIN1251", "user_name=SYSDBA", "password=pw", "sql_role_name=R"},
       "01 30 07 57 49 4E 31 32 35 31 1C 06 53 59 53 44 42 41 1D 02 70 77 3C 01 52"},
      // No role line, no role entry.
      {{"lc_ctype=WIN1251", "user_name=U"}, "01 30 07 57 49 4E 31 32 35 31 1C 01 55"},
      // Prefix and capitals make no difference; leading blanks of a value stay.
      {{"ISC_DPB_USER_NAME=  U  ", "isc_dpb_password=p"}, "01 1C 03 20 20 55 1D 01 70"},
      {{}, "01"},
      {{"", "   "}, "01"},
      {{"num_buffers=300", "sweep_interval=1000", "garbage_collect", "sweep=9"},
       "01 05 01 2C 16 04 E8 03 00 00 08 01 00 0A 01 02"},
      {{"sql_dialect=3", "user_name"}, "01 3F 01 03 1C 00"},
  };
  for (const auto& c : kCases) {
    TFIBDatabase db;
    db.SetDBParams(c.lines);
    db.BuildDPB();
    EXPECT_EQ(c.dpb, Hex(db.DPB())) << c.lines.Text();
  }
}

TEST(DatabaseParams, WritesTrimmedLinesBack) {
  TFIBDatabase db;
  db.SetDBParams({" user_name=  U  \t", "lc_ctype=WIN1251"});
  db.BuildDPB();
  EXPECT_EQ("user_name=  U\r\nlc_ctype=WIN1251\r\n", db.DBParams().Text());
}

TEST(DatabaseParams, RefusesWhatItCannotEncode) {
  const struct {
    const char* line;
    const char* error;
  } kCases[] = {
      {"no_such=1", "EFIBClientError: DPB Constant (no_such) is unknown."},
      {"ISC_DPB_No_Such", "EFIBClientError: DPB Constant (no_such) is unknown."},
      {"cdd_pathname=x", "EFIBClientError: DPB Constant (isc_dpb_cdd_pathname) is unsupported."},
      {"num_buffers=many", "EConvertError: 'many' is not a valid integer value"},
      // One length byte can't say more than 255.
      {"user_name=",
       "EFIBClientError: DPB Constant (isc_dpb_user_name) value is longer than "
       "255 bytes."},
  };
  for (const auto& c : kCases) {
    std::string line = c.line;
    if (line == "user_name=") line += std::string(256, 'u');
    TFIBDatabase db;
    db.SetDBParams({line});
    EXPECT_EQ(c.error, ThrownError([&] { db.BuildDPB(); })) << c.line;
  }
  TFIBDatabase db;
  db.SetDBParams({"user_name=" + std::string(255, 'u')});
  db.BuildDPB();
  EXPECT_EQ(258u, db.DPB().size());
}

TEST(DatabaseParams, ConnectParamsEditTheLines) {
  TFIBDatabase db;
  db.SetDBParams({"lc_ctype=WIN1251"});
  db.ConnectParams().SetUserName("U");
  db.ConnectParams().SetPassword("P");
  db.ConnectParams().SetRoleName("R");
  EXPECT_EQ("lc_ctype=WIN1251\r\nuser_name=U\r\npassword=P\r\nsql_role_name=R\r\n",
            db.DBParams().Text());
  db.ConnectParams().SetPassword("");
  db.ConnectParams().SetCharSet("utf8");
  EXPECT_EQ("lc_ctype=UTF8\r\nuser_name=U\r\nsql_role_name=R\r\n", db.DBParams().Text());

  db.SetDBParams({"isc_dpb_user_name=A", "user_name=B"});
  EXPECT_EQ("A", db.ConnectParams().UserName());
  EXPECT_EQ("", db.ConnectParams().Password());
}

TEST(TransactionParams, BuildsTheBytesOfEachLine) {
  const struct {
    TStringList lines;
    const char* tpb;
  } kCases[] = {
      {{"read", "nowait", "rec_version", "read_committed"}, "03 08 07 11 0F"},
      {{"write", "nowait", "rec_version", "read_committed"}, "03 09 07 11 0F"},
      {{"write", "isc_tpb_nowait", "read_committed", "rec_version"}, "03 09 07 0F 11"},
      {{}, ""},
      {{"nowait ", "ISC_TPB_NOWAIT", "NoWait", ""}, "03 07 07 07"},
      {{"lock_write=ORDERS", "lock_read="}, "03 0B 06 4F 52 44 45 52 53 0A 00"},
      // A waiting read that gives up after 90 (0x5A) or 300 (0x012C) seconds.
      {{"read", "wait", "no_rec_version", "read_committed", "lock_timeout=90"},
       "03 08 06 12 0F 15 04 5A 00 00 00"},
      {{"isc_tpb_lock_timeout=300"}, "03 15 04 2C 01 00 00"},
      // The table's last name keeps its code, alone.
      {{"no_savepoint"}, "03 15"},
  };
  for (const auto& c : kCases) {
    TFIBTransaction t;
    t.SetTRParams(c.lines);
    t.BuildTPB();
    EXPECT_EQ(c.tpb, Hex(t.TPB())) << c.lines.Text();
  }
  TFIBTransaction t;
  t.SetTRParams({"nowait "});
  t.BuildTPB();
  EXPECT_EQ("nowait", t.TRParams()[0]);
}

TEST(TransactionParams, RefusesWhatItCannotEncode) {
  const struct {
    std::string line;
    const char* error;
  } kCases[] = {
      {"isc_tpb_readonly", "EFIBClientError: TPB Constant (readonly) is unknown."},
      {"autocommit", "EFIBClientError: TPB Constant (isc_tpb_autocommit) is unsupported."},
      {"Verb_Time", "EFIBClientError: TPB Constant (isc_tpb_verb_time) is unsupported."},
      {"lock_read=" + std::string(256, 'T'),
       "EFIBClientError: TPB Constant (isc_tpb_lock_read) value is longer than 255 bytes."},
      {"lock_timeout=0",
       "EFIBClientError: TPB Constant (isc_tpb_lock_timeout) needs a number of seconds from 1 up, "
       "not '0'."},
      {"lock_timeout=",
       "EFIBClientError: TPB Constant (isc_tpb_lock_timeout) needs a number of seconds from 1 up, "
       "not ''."},
  };
  for (const auto& c : kCases) {
    TFIBTransaction t;
    t.SetTRParams({c.line});
    EXPECT_EQ(c.error, ThrownError([&] { t.BuildTPB(); })) << c.line;
  }
}

// ---- connections and transactions over the fake client library -------------------

// The service's arrangement of components, over the fake client library.
class FakeSessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = fbtest::FakeClientPath("full");
    Call<void()>("fake_reset")();
    module_ = std::make_unique<TComponent>();
    module_->SetName("DorvanaWebInterface");
    db_ = new TpFIBDatabase(module_.get());
    db_->SetName("Database");
    read_ = new TpFIBTransaction(module_.get());
    read_->SetName("TransactionRead");
    rw_ = new TpFIBTransaction(module_.get());
    rw_->SetName("TransactionRW");
    db_->SetDBParams({"lc_ctype=WIN1251"});
    db_->SetDefaultTransaction(read_);
    db_->SetDefaultUpdateTransaction(rw_);
    db_->SetLibraryName(path_);
    db_->SetSynchronizeTime(false);
    for (TpFIBTransaction* t : {read_, rw_}) {
      t->SetDefaultDatabase(db_);
      t->SetTPBMode(tpbDefault);
    }
    read_->SetTRParams({"read", "nowait", "rec_version", "read_committed"});
    rw_->SetTRParams({"write", "nowait", "rec_version", "read_committed"});
  }
  template <class F>
  F* Call(const char* name) {
    return reinterpret_cast<F*>(fbtest::FakeEntry(path_, name));
  }
  void Connect() {
    db_->SetDBName("fake.fdb");
    db_->ConnectParams().SetUserName("U");
    db_->ConnectParams().SetPassword("P");
    db_->SetConnected(true);
  }
  std::string LastTPB() {
    char buffer[4096];
    const int n = Call<int(char*)>("fake_last_tpb")(buffer);
    return Hex(std::string(buffer, static_cast<size_t>(n)));
  }

  std::string path_;
  std::unique_ptr<TComponent> module_;
  TpFIBDatabase* db_;
  TpFIBTransaction* read_;
  TpFIBTransaction* rw_;
};

TEST_F(FakeSessionTest, LoginEntriesFollowTheOrderTheyWereSet) {
  db_->SetDBName("fake.fdb");
  db_->ConnectParams().SetRoleName("R");
  db_->ConnectParams().SetPassword("P");
  db_->ConnectParams().SetUserName("U");
  // A second value replaces the entry where it stands; an empty one removes it.
  db_->ConnectParams().SetRoleName("Q");
  db_->ConnectParams().SetPassword("");
  db_->ConnectParams().SetPassword("W");
  db_->SetConnected(true);
  char buffer[4096];
  const int n = Call<int(char*)>("fake_last_dpb")(buffer);
  // 01; lc_ctype (30) "WIN1251"; sql_role_name (3C) "Q"; user_name (1C) "U";
  // password (1D) "W".
  EXPECT_EQ("01 30 07 57 49 4E 31 32 35 31 3C 01 51 1C 01 55 1D 01 57",
            Hex(std::string(buffer, static_cast<size_t>(n))));
}

TEST_F(FakeSessionTest, StartBeforeConnectNamesTheConnection) {
  EXPECT_EQ(
      "EFIBClientError: DorvanaWebInterface.Database: Cannot perform operation -- DB is "
      "not open.",
      ThrownError([&] { read_->StartTransaction(); }));
  EXPECT_FALSE(read_->Active());
  EXPECT_EQ("EFIBClientError: Database name is missing.",
            ThrownError([&] { db_->SetConnected(true); }));
  // The name is checked before the library is loaded.
  EXPECT_EQ(nullptr, db_->ClientLibrary());
}

TEST_F(FakeSessionTest, ConnectSendsTheDPBAndReadsTheServerFacts) {
  Connect();
  char buffer[4096];
  const int n = Call<int(char*)>("fake_last_dpb")(buffer);
  EXPECT_EQ("01 30 07 57 49 4E 31 32 35 31 1C 01 55 1D 01 50",
            Hex(std::string(buffer, static_cast<size_t>(n))));
  EXPECT_EQ(42, db_->AttachmentID());
  // The database's dialect 3 leaves a configured 1 as it is.
  EXPECT_EQ(1, db_->SQLDialect());
  EXPECT_TRUE(db_->IsFirebird());
  EXPECT_EQ(3, db_->ServerMajorVersion());
  EXPECT_EQ(0, db_->ServerMinorVersion());
  EXPECT_EQ(11, db_->ServerRelease());
  EXPECT_EQ(33703, db_->ServerBuild());
  EXPECT_FALSE(db_->UnicodeOrNoneConnection());
  EXPECT_FALSE(db_->BlobCharsetAware());
  // A second connect does nothing.
  db_->SetConnected(true);
  EXPECT_EQ("EFIBClientError: Cannot perform operation -- DB is currently open.",
            ThrownError([&] { db_->ConnectParams().SetRoleName("R"); }));
  EXPECT_EQ("EFIBClientError: Cannot perform operation -- DB is currently open.",
            ThrownError([&] { db_->SetDBName("other.fdb"); }));
  EXPECT_EQ("EFIBClientError: SQL Dialect invalid", ThrownError([&] { db_->SetSQLDialect(0); }));
}

TEST_F(FakeSessionTest, TransactionsSendTheirTPBAndEndOnce) {
  Connect();
  read_->StartTransaction();
  EXPECT_EQ("03 08 07 11 0F", LastTPB());
  read_->StartTransaction();  // already active: nothing happens
  EXPECT_EQ(1, Call<int()>("fake_start_count")());
  EXPECT_EQ(tsActive, read_->TransactionState());
  read_->Commit();
  EXPECT_FALSE(read_->Active());
  EXPECT_EQ(tsInactive, read_->TransactionState());
  EXPECT_EQ("EFIBClientError: DorvanaWebInterface.TransactionRead :Transaction is not active.",
            ThrownError([&] { read_->Rollback(); }));
  EXPECT_EQ(0, Call<int()>("fake_rollback_count")());

  rw_->StartTransaction();
  EXPECT_EQ("03 09 07 11 0F", LastTPB());
  EXPECT_EQ("EFIBClientError: DorvanaWebInterface.TransactionRW :Transaction is active.",
            ThrownError([&] { rw_->SetTRParams({"read"}); }));
  rw_->SetActive(false);
  EXPECT_EQ(1, Call<int()>("fake_rollback_count")());
}

// An owner ends the handle it still holds when it dies, once, whoever holds it
// after a move; a failed open leaves nothing to end.
TEST_F(FakeSessionTest, HandleOwnersEndWhatTheyStillHold) {
  Connect();
  IIBClientLibrary& library = *db_->ClientLibrary();
  const auto attach = [&](TFBHandleValue* handle) {
    return library.isc_attach_database(StatusVector(), 6, "second", handle, 0, "");
  };
  const int detached = Call<int()>("fake_detach_count")();
  {
    TFBDatabaseHandle first;
    ASSERT_EQ(0, first.Open(library, attach));
    ASSERT_TRUE(first);
    TFBDatabaseHandle second = std::move(first);
    EXPECT_FALSE(first);
    EXPECT_TRUE(second);
  }
  EXPECT_EQ(detached + 1, Call<int()>("fake_detach_count")());

  Call<void(long)>("fake_fail_attach")(isc_io_error);
  {
    TFBDatabaseHandle failed;
    EXPECT_GT(failed.Open(library, attach), 0);
    EXPECT_FALSE(failed);
  }
  EXPECT_EQ(detached + 1, Call<int()>("fake_detach_count")());

  // Ended by its call, the owner has nothing left to end.
  Call<void(long)>("fake_fail_attach")(0);
  {
    TFBDatabaseHandle ended;
    ASSERT_EQ(0, ended.Open(library, attach));
    EXPECT_EQ(0, ended.End(
                     [&](TFBHandleValue* handle) {
                       return library.isc_detach_database(StatusVector(), handle);
                     },
                     false));
    EXPECT_FALSE(ended);
  }
  EXPECT_EQ(detached + 2, Call<int()>("fake_detach_count")());
}

TEST_F(FakeSessionTest, ModesRewriteTheLinesAtStart) {
  Connect();
  rw_->SetTPBMode(tpbReadCommitted);
  rw_->StartTransaction();
  EXPECT_EQ("03 09 07 0F 11", LastTPB());
  rw_->Commit();
  rw_->SetTPBMode(tpbRepeatableRead);
  rw_->StartTransaction();
  EXPECT_EQ("03 09 07 02", LastTPB());
  rw_->Commit();
}

TEST_F(FakeSessionTest, FailedCommitLeavesTheTransactionActive) {
  Connect();
  rw_->StartTransaction();
  Call<void(long)>("fake_fail_commit")(335544345);
  const std::string error = ThrownError([&] { rw_->Commit(); });
  EXPECT_EQ(0u, error.find("EFIBInterBaseError: DorvanaWebInterface.TransactionRW:\r\n")) << error;
  EXPECT_TRUE(rw_->Active());
  EXPECT_EQ(tsActive, rw_->TransactionState());
  // The service's last step then rolls it back.
  rw_->Rollback();
  EXPECT_FALSE(rw_->Active());
}

TEST_F(FakeSessionTest, DestroyingTheModuleRollsBackAndDetaches) {
  Connect();
  rw_->StartTransaction();
  read_->StartTransaction();
  module_.reset();
  EXPECT_EQ(2, Call<int()>("fake_rollback_count")());
  EXPECT_EQ(0, Call<int()>("fake_commit_count")());
  EXPECT_EQ(1, Call<int()>("fake_detach_count")());
}

TEST_F(FakeSessionTest, ClosingEndsTransactionsByTheirTimeoutAction) {
  Connect();
  read_->SetTimeoutAction(TACommitRetaining);
  read_->StartTransaction();
  rw_->StartTransaction();
  db_->SetConnected(false);
  EXPECT_FALSE(read_->Active());
  EXPECT_FALSE(rw_->Active());
  EXPECT_EQ(1, Call<int()>("fake_commit_count")());
  EXPECT_EQ(1, Call<int()>("fake_rollback_count")());
  EXPECT_EQ(-1, db_->AttachmentID());
}

TEST_F(FakeSessionTest, BoundStatementsHearWhatHappens) {
  TComponent first, second;
  first.SetName("Q1");
  second.SetName("Q2");
  std::vector<std::string> heard;
  auto listen = [&](TFIBBase& link, const char* name) {
    link.OnNotice = [&heard, name](TFIBNotice n) { heard.push_back(name + std::to_string(n)); };
  };
  auto a = std::make_unique<TFIBBase>(&first);
  auto b = std::make_unique<TFIBBase>(&second);
  listen(*a, "a");
  listen(*b, "b");
  for (TFIBBase* link : {a.get(), b.get()}) {
    link->SetDatabase(db_);
    link->SetTransaction(rw_);
  }
  EXPECT_EQ(
      "EFIBClientError: DorvanaWebInterface.Database: Cannot perform operation -- DB is "
      "not open.",
      ThrownError([&] { a->CheckDatabase(); }));
  Connect();
  rw_->StartTransaction();
  rw_->Commit();
  db_->SetConnected(false);
  const std::vector<std::string> kExpected = {
      "a0", "b0", "a1", "b1",  // connecting, connected
      "a5", "b5", "a6", "b6",  // starting, started
      "b7", "a7", "a8", "b8",  // ending (last bound first), ended
      "a2", "b2", "a3", "b3",  // disconnecting, disconnected
  };
  EXPECT_EQ(kExpected, heard);

  heard.clear();
  b.reset();  // an unbound link hears nothing more
  TFIBBase none(&first);
  EXPECT_EQ("EFIBClientError: Database not assigned for Q1.",
            ThrownError([&] { none.CheckDatabase(); }));
  EXPECT_EQ("EFIBClientError: Transaction not assigned for Q1.",
            ThrownError([&] { none.CheckTransaction(); }));
  module_.reset();
  EXPECT_EQ((std::vector<std::string>{"a9", "a4"}), heard);
  EXPECT_EQ(nullptr, a->Database());
  EXPECT_EQ(nullptr, a->Transaction());
}

TEST_F(FakeSessionTest, ClockQueryRunsInTheInternalTransaction) {
  std::string sqlSeen;
  db_->SetServerClockQuery([&](TFIBTransaction& t, const std::string& sql) {
    EXPECT_EQ(db_->InternalTransaction(), &t);
    EXPECT_TRUE(t.Active());
    sqlSeen = sql;
    return 1000.0;
  });
  db_->SetSynchronizeTime(true);
  Connect();
  EXPECT_EQ("SELECT CAST('NOW' AS DATE) from RDB$DATABASE", sqlSeen);
  EXPECT_EQ("03 09 07 0F 11", LastTPB());
  EXPECT_EQ("Database_InternalTransaction", db_->InternalTransaction()->Name());
  EXPECT_FALSE(db_->InternalTransaction()->Active());
  EXPECT_EQ(1, Call<int()>("fake_commit_count")());
  EXPECT_GT(db_->ClockOffset(), 40000.0);  // local time is long after day 1000
  db_->SetConnected(false);

  // A failing query fails the connect after the attach: the connection stays.
  db_->SetServerClockQuery(
      [](TFIBTransaction&, const std::string&) -> double { RaiseClientError(fbceUnknownError); });
  EXPECT_EQ("EFIBClientError: Unknown error.", ThrownError([&] { db_->SetConnected(true); }));
  EXPECT_TRUE(db_->Connected());
  EXPECT_FALSE(db_->InternalTransaction()->Active());
  EXPECT_EQ(1, Call<int()>("fake_rollback_count")());
}

TEST_F(FakeSessionTest, ConnectionsLeftOpenCloseAtProcessEnd) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        Connect();
        db_->AfterDisconnect = [](TFIBDatabase&) { std::fputs("detached\n", stderr); };
        // Never destroyed, but still reachable.
        [[maybe_unused]] static TComponent* kept = module_.release();
        std::exit(0);
      },
      ::testing::ExitedWithCode(0), "detached");
}

TEST_F(FakeSessionTest, TransactionsKeepToOneClientLibrary) {
  TFIBDatabase other;
  other.SetLibraryName("another.dll");
  EXPECT_EQ(
      "Exception: DorvanaWebInterface.TransactionRW.\r\nTransaction can't work with "
      "different client library.",
      ThrownError([&] { rw_->AddDatabase(&other); }));
  TFIBTransaction lonely;
  lonely.SetName("Lonely");
  EXPECT_EQ("EFIBClientError: Lonely :No databases are listed in transaction component.",
            ThrownError([&] { lonely.StartTransaction(); }));
}

}  // namespace
