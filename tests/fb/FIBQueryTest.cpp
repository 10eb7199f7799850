#include "fb/FIBQuery.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <optional>

#include "FbTestSupport.h"
#include "fb/FIBInternal.h"
#include "fb/IB_CallCounter.h"
#include "fb/fib.h"
#include "fb/pFIBDatabase.h"
#include "fb/pFIBQuery.h"
#include "platform/Platform.h"
#include "tests/support/ExpectThrow.h"

namespace {

// The regional forms of the hand columns below: fixed, whatever the host's are.
TFIBFormatSettings gHandFormat{'.', "dd.mm.yyyy", "hh:nn:ss"};

// Other regional forms for the hand columns made while it lives.
class TFormatScope {
 public:
  explicit TFormatScope(char mark = '.', std::string date = "dd.mm.yyyy",
                        std::string time = "hh:nn:ss")
      : FSaved(gHandFormat) {
    gHandFormat = {mark, std::move(date), std::move(time)};
  }
  ~TFormatScope() { gHandFormat = FSaved; }

 private:
  TFIBFormatSettings FSaved;
};

template <class F>
std::string ClientErrorOf(F f, int* number = nullptr) {
  const std::optional<EFIBClientError> error = Caught<EFIBClientError>(f);
  if (!error) return "no error";
  if (number) *number = error->SqlCode;
  return error->Message();
}

// A column slot filled by hand, for types the test databases cannot describe; it
// reads in the forms of gHandFormat as they were when it was made.
struct THandColumn {
  TFIBFormatSettings format = gHandFormat;
  TFIBXSQLDA area{nullptr, false, &format};
  alignas(8) char data[16] = {};
  short indicator = 0;

  template <class T>
  THandColumn(int type, int scale, T value, int length = sizeof(T)) {
    area.SetCount(1);
    XSQLVAR& slot = *area[0].Data();
    slot.sqltype = static_cast<short>(type);
    slot.sqlscale = static_cast<short>(scale);
    slot.sqllen = static_cast<short>(length);
    std::memcpy(data, &value, sizeof(T));
    slot.sqldata = data;
  }
  // A text slot holding the bytes of text.
  THandColumn(int type, const char* text, int length) {
    area.SetCount(1);
    XSQLVAR& slot = *area[0].Data();
    slot.sqltype = static_cast<short>(type);
    slot.sqllen = static_cast<short>(length);
    std::memcpy(data, text, length);
    slot.sqldata = data;
  }
  TFIBXSQLVAR& Value() { return area[0]; }
  void SetNull() {
    XSQLVAR& slot = *area[0].Data();
    slot.sqltype |= 1;
    indicator = -1;
    slot.sqlind = &indicator;
  }
};

}  // namespace

// ---- Text forms ----------------------------------------------------------------------

TEST(FIBNumberText, GeneralForm) {
  const struct {
    double value;
    const char* text;
  } kCases[] = {
      {0, "0"},
      {1, "1"},
      {0.5, "0.5"},
      {-2.25, "-2.25"},
      {123.45, "123.45"},
      {1e20, "1E20"},
      {0.00001, "1E-5"},
      {0.0001, "0.0001"},
      {static_cast<double>(0.1f), "0.100000001490116"},
      {0.1 + 0.2, "0.3"},
      {1.0 / 3, "0.333333333333333"},
      {2.0 / 3, "0.666666666666667"},
      {123456789012345.0, "123456789012345"},
      {1e15, "1E15"},
      {999999999999999.9, "1E15"},  // rounding to 15 digits carries into a new digit
      {-1.5e-7, "-1.5E-7"},
      {1234567.0, "1234567"},
      {1.5e300, "1.5E300"},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.text, FIBGeneralNumberText(c.value, '.')) << c.value;
  EXPECT_EQ("123,45", FIBGeneralNumberText(123.45, ','));
  EXPECT_EQ("0,5", FIBGeneralNumberText(0.5, ','));
  EXPECT_EQ("1,5E-7", FIBGeneralNumberText(1.5e-7, ','));
}

TEST(FIBNumberText, ExactScaledDecimals) {
  const struct {
    int64_t value;
    int scale;
    const char* text;
  } kCases[] = {
      {1500, -2, "15"},
      {1550, -2, "15.5"},
      {-5, -2, "-0.05"},
      {12345, -2, "123.45"},
      {0, -2, "0"},
      {100, -2, "1"},
      {7, -1, "0.7"},
      {1000000, -6, "1"},
      {INT64_MIN, -4, "-922337203685477.5808"},
      {INT64_MAX, -18, "9.223372036854775807"},
      {12, 2, "1200"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.text, FIBScaledIntegerText(c.value, c.scale, '.')) << c.value << "e" << c.scale;
  EXPECT_EQ("123,45", FIBScaledIntegerText(12345, -2, ','));
}

TEST(FIBNumberText, DatePatterns) {
  EXPECT_EQ("05.03.2026", FIBFormatDateTime("dd.mm.yyyy", 2026, 3, 5, 0, 0, 0, 0));
  EXPECT_EQ("3/5/26", FIBFormatDateTime("m/d/yy", 2026, 3, 5, 0, 0, 0, 0));
  EXPECT_EQ("07:05:09", FIBFormatDateTime("hh:nn:ss", 0, 0, 0, 7, 5, 9, 0));
  EXPECT_EQ("7:5:9.042", FIBFormatDateTime("h:n:s.zzz", 0, 0, 0, 7, 5, 9, 42));
  EXPECT_EQ("2026 at 05", FIBFormatDateTime("yyyy 'at' dd", 2026, 3, 5, 0, 0, 0, 0));
}

// ---- Values in hand-filled slots --------------------------------------------------------

TEST(FIBXSQLVAR, ReadsEveryNumericForm) {
  TFormatScope format;
  const struct {
    const char* what;
    THandColumn column;
    const char* text;
    int32_t asInt;
    double asReal;
  } kCases[] = {
      {"long -7", {SQL_LONG, 0, int32_t{-7}}, "-7", -7, -7.0},
      {"long 12345e-2", {SQL_LONG, -2, int32_t{12345}}, "123.45", 123, 123.45},
      {"long 1500e-2", {SQL_LONG, -2, int32_t{1500}}, "15", 15, 15.0},
      {"long 12399e-2", {SQL_LONG, -2, int32_t{12399}}, "123.99", 123, 123.99},
      {"long -12399e-2", {SQL_LONG, -2, int32_t{-12399}}, "-123.99", -123, -123.99},
      {"short -3", {SQL_SHORT, 0, int16_t{-3}}, "-3", -3, -3.0},
      {"short 125e-1", {SQL_SHORT, -1, int16_t{125}}, "12.5", 12, 12.5},
      {"int64 big", {SQL_INT64, 0, int64_t{9000000000}}, "9000000000", 0, 9e9},
      {"int64 1550e-2", {SQL_INT64, -2, int64_t{1550}}, "15.5", 15, 15.5},
      {"int64 -5e-2", {SQL_INT64, -2, int64_t{-5}}, "-0.05", 0, -0.05},
      {"int64 1000000e-6", {SQL_INT64, -6, int64_t{1000000}}, "1", 1, 1.0},
      {"double 2.5", {SQL_DOUBLE, 0, 2.5}, "2.5", 2, 2.5},
      {"double -2.5", {SQL_DOUBLE, 0, -2.5}, "-2.5", -2, -2.5},
      {"double -2.7", {SQL_DOUBLE, 0, -2.7}, "-2.7", -2, -2.7},
      {"d_float 1e20", {SQL_D_FLOAT, 0, 1e20}, "1E20", 0, 1e20},
      {"float 0.1", {SQL_FLOAT, 0, 0.1f}, "0.100000001490116", 0, static_cast<double>(0.1f)},
      {"boolean", {SQL_BOOLEAN, 0, char{1}}, "True", 1, 1.0},
      {"boolean false", {SQL_BOOLEAN, 0, char{0}}, "False", 0, 0.0},
  };
  for (const auto& c : kCases) {
    auto& v = const_cast<THandColumn&>(c.column).Value();
    EXPECT_EQ(c.text, v.AsText()) << c.what;
    EXPECT_DOUBLE_EQ(c.asReal, v.AsReal()) << c.what;
    if (std::fabs(c.asReal) < 2e9) {
      EXPECT_EQ(c.asInt, v.AsInt32()) << c.what;
    }
    EXPECT_FALSE(v.IsNull()) << c.what;
  }
}

TEST(FIBXSQLVAR, ScaledTextUsesTheRegionalMark) {
  TFormatScope format(',');
  THandColumn scaled(SQL_LONG, -2, int32_t{12345});
  EXPECT_EQ("123,45", scaled.Value().AsText());
  THandColumn wide(SQL_INT64, -2, int64_t{12345});
  EXPECT_EQ("123,45", wide.Value().AsText());
  THandColumn text(SQL_TEXT, "1,5", 3);
  EXPECT_DOUBLE_EQ(1.5, text.Value().AsReal());
  THandColumn stop(SQL_TEXT, "1.5", 3);
  EXPECT_EQ(33, [&] {
    int n = -1;
    ClientErrorOf([&] { stop.Value().AsReal(); }, &n);
    return n;
  }());
}

TEST(FIBXSQLVAR, ReadsTextDatesAndMarkers) {
  TFormatScope format('.', "dd.mm.yyyy", "hh:nn:ss");
  // 2026-03-05 is day 61104 of the server's count; 10:15:07 is 369070000 units.
  const int32_t day = 61104;
  struct TStamp {
    int32_t date;
    uint32_t time;
  };
  THandColumn stamp(SQL_TIMESTAMP, 0, TStamp{day, 369070000u});
  EXPECT_EQ("05.03.2026 10:15:07", stamp.Value().AsText());
  EXPECT_DOUBLE_EQ(46086.0 + 36907.0 / 86400.0, stamp.Value().DateTimeValue());
  THandColumn midnight(SQL_TIMESTAMP, 0, TStamp{day, 0u});
  EXPECT_EQ("05.03.2026", midnight.Value().AsText());
  THandColumn date(SQL_TYPE_DATE, 0, day);
  EXPECT_EQ("05.03.2026", date.Value().AsText());
  EXPECT_DOUBLE_EQ(46086.0, date.Value().DateTimeValue());
  THandColumn time(SQL_TYPE_TIME, 0, uint32_t{369070000u});
  EXPECT_EQ("10:15:07", time.Value().AsText());
  THandColumn oldDate(SQL_TYPE_DATE, 0, int32_t{0});
  EXPECT_EQ("17.11.1858", oldDate.Value().AsText());

  THandColumn chars(SQL_TEXT, "ABC       ", 10);
  EXPECT_EQ("ABC       ", chars.Value().AsText());
  struct TVary {
    uint16_t length;
    char text[6];
  };
  THandColumn varying(SQL_VARYING, 0, TVary{3, "ABC"}, 6);
  EXPECT_EQ("ABC", varying.Value().AsText());
  THandColumn overlong(SQL_VARYING, 0, TVary{500, "ABC"}, 6);
  EXPECT_EQ(6u, overlong.Value().AsText().size());  // never past the buffer
  THandColumn number(SQL_TEXT, " 42  ", 5);
  EXPECT_EQ(42, number.Value().AsInt32());
  EXPECT_DOUBLE_EQ(42.0, number.Value().AsReal());
  THandColumn textDate(SQL_TEXT, "05.03.2026", 10);
  EXPECT_DOUBLE_EQ(46086.0, textDate.Value().DateTimeValue());
  THandColumn array(SQL_ARRAY, 0, int64_t{0});
  EXPECT_EQ("(ARRAY)", array.Value().AsText());
}

TEST(FIBXSQLVAR, NullReadsAsEmptyAndZero) {
  THandColumn column(SQL_LONG, 0, int32_t{-7});
  column.SetNull();
  EXPECT_TRUE(column.Value().IsNull());
  EXPECT_EQ("", column.Value().AsText());
  EXPECT_EQ(0, column.Value().AsInt32());
  EXPECT_EQ(0.0, column.Value().AsReal());
  column.indicator = 0;
  EXPECT_EQ(-7, column.Value().AsInt32());
}

TEST(FIBXSQLVAR, UnreadableFormsFailWithInvalidConversion) {
  const std::string kMessage = "Invalid data conversion.";
  THandColumn word(SQL_TEXT, "abc", 3);
  THandColumn partly(SQL_TEXT, "12x", 3);
  THandColumn array(SQL_ARRAY, 0, int64_t{0});
  THandColumn huge(SQL_DOUBLE, 0, 3e9);
  THandColumn wide(SQL_INT64, 0, int64_t{5000000000});
  THandColumn quad(SQL_QUAD, 0, int64_t{0});
  EXPECT_EQ(kMessage, ClientErrorOf([&] { word.Value().AsReal(); }));
  EXPECT_EQ(kMessage, ClientErrorOf([&] { word.Value().DateTimeValue(); }));
  EXPECT_EQ(kMessage, ClientErrorOf([&] { partly.Value().AsInt32(); }));
  EXPECT_EQ(kMessage, ClientErrorOf([&] { array.Value().AsInt32(); }));
  EXPECT_EQ(kMessage, ClientErrorOf([&] { array.Value().AsReal(); }));
  EXPECT_EQ(kMessage, ClientErrorOf([&] { quad.Value().AsText(); }));
  // Values beyond 32 bits are refused rather than cut to their low half.
  EXPECT_EQ(kMessage, ClientErrorOf([&] { huge.Value().AsInt32(); }));
  EXPECT_EQ(kMessage, ClientErrorOf([&] { wide.Value().AsInt32(); }));
  // A failed reading changes nothing.
  EXPECT_EQ("12x", partly.Value().AsText());
}

TEST(FIBXSQLDA, SetupNamesColumnsAndSizesBuffers) {
  TFIBXSQLDA area(nullptr, false);
  area.SetCount(5);
  const char* kAliases[] = {"", "", "ID", "id", "ID"};
  for (int i = 0; i < 5; ++i) {
    XSQLVAR& slot = *area[i].Data();
    slot.sqltype = i == 1 ? SQL_VARYING + 1 : SQL_LONG;
    slot.sqllen = i == 1 ? 10 : 4;
    slot.aliasname_length = static_cast<short>(std::strlen(kAliases[i]));
    std::memcpy(slot.aliasname, kAliases[i], slot.aliasname_length);
  }
  area.Setup();
  const char* kNames[] = {"F_1", "F_2", "ID", "id1", "ID2"};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(kNames[i], area[i].Name()) << i;
    EXPECT_EQ(std::string(kNames[i]),
              std::string(area[i].Data()->aliasname, area[i].Data()->aliasname_length));
  }
  EXPECT_EQ(&area[3], area.ByName("ID1"));
  EXPECT_EQ(&area[2], area.ByName("Id"));
  EXPECT_EQ(nullptr, area.ByName("ID3"));
  // The nullable one got an indicator; the varying one a buffer with room for its length.
  ASSERT_NE(nullptr, area[1].Data()->sqlind);
  EXPECT_EQ(0, *area[1].Data()->sqlind);
  EXPECT_EQ(nullptr, area[0].Data()->sqlind);

  // Growing keeps the entries' objects while the block moves.
  TFIBXSQLVAR* first = &area[0];
  area.SetCount(40);
  EXPECT_EQ(first, &area[0]);
  EXPECT_EQ(&area.AsXSQLDA()->sqlvar[0], area[0].Data());
  EXPECT_EQ(40, area.AsXSQLDA()->sqln);
  EXPECT_EQ("XSQLDA index out of range.", ClientErrorOf([&] { area[40]; }));
  EXPECT_EQ("XSQLDA index out of range.", ClientErrorOf([&] { area[-1]; }));
}

TEST(FIBXSQLDA, LongDuplicateNamesAreCutToFit) {
  TFIBXSQLDA area(nullptr, false);
  area.SetCount(2);
  const std::string kLong(31, 'X');
  for (int i = 0; i < 2; ++i) {
    XSQLVAR& slot = *area[i].Data();
    slot.sqltype = SQL_LONG;
    slot.sqllen = 4;
    slot.aliasname_length = 31;
    std::memcpy(slot.aliasname, kLong.data(), 31);
  }
  area.Setup();
  EXPECT_EQ(kLong + "1", area[1].Name());
}

TEST(FIBXSQLDA, UnknownTypeFailsSetup) {
  TFIBXSQLDA area(nullptr, false);
  area.SetCount(1);
  area[0].Data()->sqltype = 999;
  EXPECT_EQ("Unknown SQL Data type (998).", ClientErrorOf([&] { area.Setup(); }));
}

// ---- Statements without a server -------------------------------------------------------

namespace {

struct TOffline {
  TComponent module;
  TpFIBQuery* query;
  TOffline() {
    module.SetName("M");
    query = new TpFIBQuery(&module);
    query->SetName("Query");
  }
};

}  // namespace

TEST(FIBQueryOffline, ParametersByNameInAnyCase) {
  TOffline m;
  TFIBQuery& q = *m.query;
  q.SQL().Add("select * from T where a = :Guid and b = :isModificator and c = :Quantity");
  ASSERT_EQ(3, q.ParamArea().Count());
  EXPECT_EQ("GUID", q.ParamArea()[0].Name());
  EXPECT_EQ("ISMODIFICATOR", q.ParamArea()[1].Name());
  for (const char* name : {"GUID", "guid", "Guid"})
    EXPECT_EQ(&q.ParamArea()[0], &q.ParamNamed(name)) << name;
  EXPECT_EQ(&q.ParamArea()[2], &q.ParamNamed("Quantity"));
  EXPECT_TRUE(
      ThrowsExactly<Exception>([&] { q.ParamNamed("Missing"); },
                               "Exception: Parameter \"Missing\" does not exist in M.Query"));
}

TEST(FIBQueryOffline, SameNameTwiceIsOneValue) {
  TOffline m;
  TFIBQuery& q = *m.query;
  q.SQL().Add("insert into T (a, b) values (:X, :X)");
  ASSERT_EQ(2, q.ParamArea().Count());
  q.ParamNamed("x").SetAsInt32(5);
  EXPECT_EQ(5, q.ParamArea()[0].AsInt32());
  EXPECT_EQ(5, q.ParamArea()[1].AsInt32());
  q.ParamArea()[1].SetAsText("abc");
  EXPECT_EQ("abc", q.ParamArea()[0].AsText());
  q.ParamArea()[0].SetIsNull(true);
  EXPECT_TRUE(q.ParamArea()[1].IsNull());
}

TEST(FIBQueryOffline, OneNameInDifferentCasesIsOneParameterName) {
  TOffline m;
  TFIBQuery& q = *m.query;
  q.SQL().Add("select 1 from T where a = :Guid or b = :guid or c = :GUID");
  ASSERT_EQ(3, q.ParamArea().Count());
  q.ParamNamed("gUID").SetAsText("g-1");
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ("GUID", q.ParamArea()[i].Name());
    EXPECT_EQ("g-1", q.ParamArea()[i].AsText());
  }
}

TEST(FIBQueryOffline, ParameterStores) {
  TOffline m;
  TFIBQuery& q = *m.query;
  q.SQL().Add("insert into T (a, b) values (:A, :B)");
  TFIBXSQLVAR& a = q.ParamNamed("A");
  EXPECT_TRUE(a.IsNull());  // a new parameter has no value
  // Before preparation the declared type is unknown: the empty text stays text.
  a.SetAsText("");
  EXPECT_FALSE(a.IsNull());
  EXPECT_EQ(SQL_TEXT, a.SQLType());
  EXPECT_EQ(0, a.Data()->sqllen);
  a.SetAsText("1,5");
  EXPECT_EQ("1,5", a.AsText());
  a.SetAsInt32(7);
  EXPECT_EQ(SQL_LONG, a.SQLType());
  EXPECT_EQ(4, a.Data()->sqllen);
  EXPECT_TRUE(a.Modified());
  a.SetIsNull(true);
  EXPECT_TRUE(a.IsNull());
  EXPECT_EQ(-1, *a.Data()->sqlind);
  a.SetIsNull(false);
  EXPECT_EQ(7, a.AsInt32());
  // Text beyond 32767 bytes waits to be written as a blob.
  const std::string big(40000, 'x');
  a.SetAsText(big);
  EXPECT_EQ(SQL_BLOB, a.SQLType());
  EXPECT_EQ(big, a.AsText());
  a.SetAsInt32(1);
  EXPECT_EQ("1", a.AsText());
}

TEST(FIBQueryOffline, ValuesSurviveATextChange) {
  TOffline m;
  TFIBQuery& q = *m.query;
  q.SQL().Add("select * from T where a = :A");
  q.ParamNamed("A").SetAsText("kept");
  q.SQL().Add("and b = :b");
  ASSERT_EQ(2, q.ParamArea().Count());
  EXPECT_EQ("kept", q.ParamNamed("a").AsText());
  EXPECT_TRUE(q.ParamNamed("b").IsNull());
  q.SQL().Clear();
  EXPECT_EQ(0, q.ParamArea().Count());
  q.SQL().Add("select :a from T");
  EXPECT_TRUE(q.ParamNamed("a").IsNull());  // the area of the cleared text is gone
}

TEST(FIBQueryOffline, TextChangesAndChecks) {
  TOffline m;
  TFIBQuery& q = *m.query;
  // A line that cannot be scanned is refused, but stays in the list.
  EXPECT_EQ("SQL Parse Error in :M.Query \r\n\r\nParameter name expected",
            ClientErrorOf([&] { q.SQL().Add("where a = :"); }));
  EXPECT_EQ(1, q.SQL().Count());
  // ... and the error repeats rather than the statement running with stale values.
  EXPECT_EQ("SQL Parse Error in :M.Query \r\n\r\nParameter name expected",
            ClientErrorOf([&] { q.ParamNamed("a"); }));
  q.SQL().Clear();

  q.SQL().Add("select 1 from rdb$database");
  EXPECT_EQ(skSelect, q.StatementKind());
  EXPECT_EQ("Transaction not assigned for M.Query.", ClientErrorOf([&] { q.ExecQuery(); }));
  TFIBTransaction transaction;
  q.SetTransaction(&transaction);
  EXPECT_EQ("Database not assigned for M.Query.", ClientErrorOf([&] { q.ExecQuery(); }));
  TFIBDatabase db;
  db.SetName("Db");
  q.SetDatabase(&db);
  EXPECT_EQ("Db: Cannot perform operation -- DB is not open.", ClientErrorOf([&] { q.Prepare(); }));
  q.SetDatabase(nullptr);
  q.SetTransaction(nullptr);
  EXPECT_EQ("Can't fetch next record because M.Query dataset closed.",
            ClientErrorOf([&] { q.FetchNext(); }));
  EXPECT_TRUE(q.AtEnd());
}

// ---- Statements against a real database -------------------------------------------------

namespace {

const char* const kSchema = R"(
create table T (
  ID integer not null, C char(10), V varchar(10), S smallint, I integer,
  N92 numeric(9,2), N41 numeric(4,1), D double precision, F float, DT date,
  B blob sub_type 1);
insert into T values (1, 'ABC', 'ABC', -3, -7, 123.45, 12.5, 2.5, 0.1,
  '2026-03-05 10:15:07', 'blob text');
insert into T (ID) values (2);
create table Restaurant_ImportedOrders (id integer, Guid varchar(40));
insert into Restaurant_ImportedOrders values (1, 'g-1');
create table BLOBS (ID integer, B blob sub_type 1);
create table ROWS_IN (ID integer, GUID varchar(40), QTY integer, PRICE double precision,
  NOTE varchar(20));
set term ^ ;
create procedure SEL (N integer) returns (K integer, TXT varchar(10)) as
begin
  K = 1;
  while (K <= N) do begin TXT = 'row' || K; suspend; K = K + 1; end
end^
create procedure EXE (A integer) returns (R integer, Q varchar(10)) as
begin
  R = A * 2; Q = 'x';
end^
set term ; ^
)";

class FIBQueryDb : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    FFolder = new fbtest::TTempFolder;
    FPath = FFolder->Path() + "/query.fdb";
    fbtest::CreateDatabase(FPath, kSchema, "SYSDBA", "", 1);
  }
  static void TearDownTestSuite() {
    delete FFolder;
    FFolder = nullptr;
  }

  void SetUp() override {
    FModule.SetName("M");
    FDb = new TpFIBDatabase(&FModule);
    FDb->SetName("Database");
    FTr = new TpFIBTransaction(&FModule);
    FTr->SetName("TransactionRead");
    FQuery = new TpFIBQuery(&FModule);
    FQuery->SetName("Query");
    FDb->SetDBName(FPath);
    FDb->SetLibraryName("fbclient.dll");
    FDb->AddDBParam("lc_ctype=WIN1251");
    FDb->ConnectParams().SetUserName("SYSDBA");
    FTr->SetDefaultDatabase(FDb);
    FTr->SetTPBMode(tpbDefault);
    FTr->SetTRParams({"write", "nowait", "rec_version", "read_committed"});
    FQuery->SetDatabase(FDb);
    FQuery->SetTransaction(FTr);
    FDb->SetConnected(true);
    FTr->StartTransaction();
    FCounter.emplace(Lib());
  }

  IIBClientLibrary& Lib() { return *FDb->ClientLibrary(); }
  uint64_t Calls(TIBEntry e) { return FCounter->Count(e); }
  void SetSQL(std::initializer_list<const char*> lines) {
    FQuery->CloseResult();
    FQuery->SQL().Clear();
    for (const char* line : lines) FQuery->SQL().Add(line);
  }

  static fbtest::TTempFolder* FFolder;
  static std::string FPath;
  TComponent FModule;
  TpFIBDatabase* FDb = nullptr;
  TpFIBTransaction* FTr = nullptr;
  TpFIBQuery* FQuery = nullptr;
  std::optional<TIBCallCounter> FCounter;
};

fbtest::TTempFolder* FIBQueryDb::FFolder = nullptr;
std::string FIBQueryDb::FPath;

}  // namespace

TEST_F(FIBQueryDb, ColumnsOfEveryTypeReadAsText) {
  FDb->SetFormatSettings({'.', "dd.mm.yyyy", "hh:nn:ss"});
  SetSQL({"select * from T where ID = 1"});
  FQuery->ExecQuery();
  ASSERT_FALSE(FQuery->AtEnd());
  const struct {
    const char* column;
    const char* text;
  } kCases[] = {
      {"c", "ABC       "},
      {"V", "ABC"},
      {"s", "-3"},
      {"I", "-7"},
      {"N92", "123.45"},
      {"n41", "12.5"},
      {"D", "2.5"},
      {"F", "0.100000001490116"},
      {"DT", "05.03.2026 10:15:07"},
      {"B", "blob text"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.text, FQuery->ColumnNamed(c.column).AsText()) << c.column;
  EXPECT_EQ(-7, FQuery->ColumnNamed("I").AsInt32());
  EXPECT_EQ(-7.0, FQuery->ColumnNamed("I").AsReal());
  EXPECT_EQ(123, FQuery->ColumnNamed("N92").AsInt32());
  EXPECT_DOUBLE_EQ(123.45, FQuery->ColumnNamed("N92").AsReal());
  EXPECT_EQ(2, FQuery->ColumnNamed("D").AsInt32());
  EXPECT_EQ(SQL_LONG, FQuery->ColumnNamed("N92").SQLType());
  EXPECT_EQ(-2, FQuery->ColumnNamed("N92").Data()->sqlscale);
  EXPECT_EQ("Field \"Nope\" not found.", ClientErrorOf([&] { FQuery->ColumnNamed("Nope"); }));
  EXPECT_EQ(nullptr, FQuery->FetchNext());
  EXPECT_TRUE(FQuery->AtEnd());
}

TEST_F(FIBQueryDb, NullColumnsReadAsEmptyAndZero) {
  SetSQL({"select * from T where ID = 2"});
  FQuery->ExecQuery();
  ASSERT_FALSE(FQuery->AtEnd());
  for (const char* name : {"C", "V", "S", "I", "N92", "D", "F", "DT", "B"}) {
    TFIBXSQLVAR& v = FQuery->ColumnNamed(name);
    EXPECT_TRUE(v.IsNull()) << name;
    EXPECT_EQ("", v.AsText()) << name;
    EXPECT_EQ(0, v.AsInt32()) << name;
    EXPECT_EQ(0.0, v.AsReal()) << name;
  }
  EXPECT_FALSE(FQuery->ColumnNamed("ID").IsNull());
}

TEST_F(FIBQueryDb, ColumnsAreNullUntilARowArrives) {
  SetSQL({"select ID from T where ID = 1"});
  FQuery->SetGoToFirstRecordOnExecute(false);
  FQuery->ExecQuery();
  EXPECT_TRUE(FQuery->ColumnNamed("ID").IsNull());
  ASSERT_NE(nullptr, FQuery->FetchNext());
  EXPECT_EQ(1, FQuery->ColumnNamed("ID").AsInt32());
  FQuery->CloseResult();

  FQuery->SetGoToFirstRecordOnExecute(true);
  SetSQL({"select ID from T where ID = 99"});
  FQuery->ExecQuery();
  EXPECT_TRUE(FQuery->AtEnd());
  EXPECT_TRUE(FQuery->ColumnNamed("ID").IsNull());
  const uint64_t fetches = Calls(TIBEntry::isc_dsql_fetch);
  EXPECT_EQ(nullptr, FQuery->FetchNext());
  EXPECT_EQ(nullptr, FQuery->FetchNext());
  EXPECT_EQ(fetches, Calls(TIBEntry::isc_dsql_fetch));
}

TEST_F(FIBQueryDb, ServerTextHasPlaceholdersOfTheSameLength) {
  SetSQL({"select count(id) as cnt from Restaurant_ImportedOrders where Guid =:Guid"});
  ASSERT_EQ(1, FQuery->ParamArea().Count());
  EXPECT_EQ("GUID", FQuery->ParamArea()[0].Name());
  FQuery->ParamNamed("GUID").SetAsText("g-1");
  FQuery->ExecQuery();
  EXPECT_EQ("select count(id) as cnt from Restaurant_ImportedOrders where Guid =?    \r\n",
            FQuery->ServerText());
  EXPECT_EQ(1, FQuery->ColumnNamed("cnt").AsInt32());
  FQuery->CloseResult();
  FQuery->ParamNamed("guid").SetAsText("none");
  FQuery->ExecQuery();
  EXPECT_EQ(0, FQuery->ColumnNamed("CNT").AsInt32());
}

TEST_F(FIBQueryDb, InsertPreparedOnceAndExecutedPerRow) {
  SetSQL({"insert into ROWS_IN (ID, GUID, QTY, PRICE, NOTE)",
          "values (:ID, :GUID, :Qty, :PRICE, :NOTE)"});
  const uint64_t prepares = Calls(TIBEntry::isc_dsql_prepare);
  const uint64_t executes = Calls(TIBEntry::isc_dsql_execute);
  const uint64_t describes = Calls(TIBEntry::isc_dsql_describe_bind);
  // The first execution knows no declared types: the empty text is sent as text.
  FQuery->ParamNamed("ID").SetAsInt32(1);
  FQuery->ParamNamed("GUID").SetAsText("g");
  FQuery->ParamNamed("QTY").SetAsInt32(3);
  FQuery->ParamNamed("PRICE").SetAsText("2.5");
  FQuery->ParamNamed("NOTE").SetAsText("");
  FQuery->ExecQuery();
  EXPECT_TRUE(FQuery->AtEnd());
  // Re-executions do: a decimal comma becomes a full stop, an empty number NULL.
  FQuery->ParamNamed("ID").SetAsInt32(2);
  FQuery->ParamNamed("QTY").SetAsText("");
  FQuery->ParamNamed("PRICE").SetAsText("1,5");
  FQuery->ParamNamed("NOTE").SetAsInt32(7);
  FQuery->ExecQuery();
  FQuery->ParamNamed("ID").SetAsInt32(3);
  FQuery->ExecQuery();
  EXPECT_EQ(prepares + 1, Calls(TIBEntry::isc_dsql_prepare));
  EXPECT_EQ(describes + 1, Calls(TIBEntry::isc_dsql_describe_bind));
  EXPECT_EQ(executes + 3, Calls(TIBEntry::isc_dsql_execute));
  const uint64_t frees = Calls(TIBEntry::isc_dsql_free_statement);
  FQuery->CloseResult();
  EXPECT_EQ(frees, Calls(TIBEntry::isc_dsql_free_statement));

  SetSQL({"select ID, QTY, PRICE, NOTE from ROWS_IN order by ID"});
  FQuery->ExecQuery();
  const char* kRows[] = {"1|3|2.5|", "2||1.5|7", "3||1.5|7"};
  int n = 0;
  for (; !FQuery->AtEnd(); FQuery->FetchNext(), ++n) {
    ASSERT_LT(n, 3);
    std::string row =
        FQuery->ColumnNamed("ID").AsText() + "|" + FQuery->ColumnNamed("QTY").AsText() + "|" +
        FQuery->ColumnNamed("PRICE").AsText() + "|" + FQuery->ColumnNamed("NOTE").AsText();
    EXPECT_EQ(kRows[n], row);
  }
  EXPECT_EQ(3, n);
  EXPECT_FALSE(FQuery->ColumnNamed("NOTE").IsNull() && n == 0);
  FQuery->CloseResult();
  SetSQL({"select count(*) from ROWS_IN where NOTE = '' and ID = 1"});
  FQuery->ExecQuery();
  EXPECT_EQ(1, FQuery->ColumnArea()[0].AsInt32());  // empty text, not NULL
  FTr->Rollback();
}

TEST_F(FIBQueryDb, ProcedureOutputsWithoutFetch) {
  SetSQL({"execute procedure EXE(:a)"});
  FQuery->ParamNamed("a").SetAsInt32(21);
  const uint64_t execute2 = Calls(TIBEntry::isc_dsql_execute2);
  const uint64_t fetches = Calls(TIBEntry::isc_dsql_fetch);
  FQuery->ExecQuery();
  EXPECT_EQ(execute2 + 1, Calls(TIBEntry::isc_dsql_execute2));
  EXPECT_EQ(fetches, Calls(TIBEntry::isc_dsql_fetch));
  EXPECT_EQ(SQLExecProcedure, FQuery->SQLType());
  EXPECT_TRUE(FQuery->ProcedureExecuted());
  EXPECT_EQ(42, FQuery->ColumnNamed("R").AsInt32());
  EXPECT_EQ(42, FQuery->ParamNamed("r").AsInt32());  // an output answers to ParamNamed
  EXPECT_EQ("x", FQuery->ColumnNamed("Q").AsText());
  EXPECT_EQ("Field \"Other\" not found.", ClientErrorOf([&] { FQuery->ParamNamed("Other"); }));
  EXPECT_TRUE(FQuery->AtEnd());
}

TEST_F(FIBQueryDb, SelectableProcedureRows) {
  SetSQL({"select * from SEL(:N)"});
  FQuery->ParamNamed("N").SetAsText("3");
  FQuery->ExecQuery();
  std::string rows;
  while (!FQuery->AtEnd()) {
    rows += FQuery->ColumnNamed("txt").AsText() + ";";
    FQuery->FetchNext();
  }
  EXPECT_EQ("row1;row2;row3;", rows);
  EXPECT_EQ(3, FQuery->FetchedRows());
}

TEST_F(FIBQueryDb, DuplicateColumnNames) {
  SetSQL({"select ID, ID from T where ID = 1"});
  FQuery->ExecQuery();
  EXPECT_EQ("ID", FQuery->ColumnArea()[0].Name());
  EXPECT_EQ("ID1", FQuery->ColumnArea()[1].Name());
  EXPECT_EQ(1, FQuery->ColumnNamed("id1").AsInt32());
}

TEST_F(FIBQueryDb, OpenResultRefusesTextChange) {
  SetSQL({"select ID from T"});
  FQuery->ExecQuery();
  EXPECT_EQ("Can't change sql text because M.Query dataset open.",
            ClientErrorOf([&] { FQuery->SQL().Clear(); }));
  EXPECT_EQ("Can't change sql text because M.Query dataset open.",
            ClientErrorOf([&] { FQuery->SQL().Add("where ID = 1"); }));
  EXPECT_EQ(1, FQuery->SQL().Count());
  EXPECT_TRUE(FQuery->Open());
}

TEST_F(FIBQueryDb, TransactionEndsAndTheOpenResult) {
  SetSQL({"select ID from T"});
  FQuery->ExecQuery();
  FTr->CommitRetaining();
  EXPECT_TRUE(FQuery->Open());
  EXPECT_NE(nullptr, FQuery->FetchNext());

  const uint64_t frees = Calls(TIBEntry::isc_dsql_free_statement);
  FTr->Commit();
  EXPECT_FALSE(FQuery->Open());
  EXPECT_EQ(frees + 1, Calls(TIBEntry::isc_dsql_free_statement));
  EXPECT_TRUE(FQuery->Prepared());  // the handle outlives the transaction

  FTr->StartTransaction();
  const uint64_t prepares = Calls(TIBEntry::isc_dsql_prepare);
  FQuery->ExecQuery();
  EXPECT_EQ(prepares, Calls(TIBEntry::isc_dsql_prepare));
  EXPECT_FALSE(FQuery->AtEnd());
  FTr->Rollback();
  EXPECT_FALSE(FQuery->Open());
  EXPECT_EQ("Can't fetch next record because M.Query dataset closed.",
            ClientErrorOf([&] { FQuery->FetchNext(); }));
}

TEST_F(FIBQueryDb, DisconnectDropsTheHandle) {
  SetSQL({"select ID from T"});
  FQuery->ExecQuery();
  FDb->SetConnected(false);
  EXPECT_FALSE(FQuery->Open());
  EXPECT_EQ(0u, FQuery->Handle());
  EXPECT_FALSE(FQuery->Prepared());
}

TEST_F(FIBQueryDb, BlankTextAndServerErrors) {
  SetSQL({"  ", "", "\t"});
  EXPECT_EQ("Can't Prepare , because  query is empty", ClientErrorOf([&] { FQuery->ExecQuery(); }));

  SetSQL({"select nothing_here from T"});
  const std::optional<EFIBInterBaseError> error =
      Caught<EFIBInterBaseError>([&] { FQuery->ExecQuery(); });
  ASSERT_TRUE(error);
  EXPECT_EQ(0u, error->Message().find("M.Query:\r\n")) << error->Message();
  EXPECT_EQ("M.Query", error->SourceName);
  EXPECT_EQ(0u, FQuery->Handle());
  const uint64_t prepares = Calls(TIBEntry::isc_dsql_prepare);
  EXPECT_THROW(FQuery->ExecQuery(), EFIBInterBaseError);
  EXPECT_EQ(prepares + 1, Calls(TIBEntry::isc_dsql_prepare));  // prepared anew

  FTr->Commit();
  SetSQL({"select ID from T"});
  EXPECT_EQ("M.TransactionRead :Transaction is not active.",
            ClientErrorOf([&] { FQuery->ExecQuery(); }));
  FQuery->SetOptions({qoStartTransaction});
  FQuery->ExecQuery();
  EXPECT_TRUE(FTr->Active());
  EXPECT_FALSE(FQuery->AtEnd());
}

TEST_F(FIBQueryDb, ChangedTextWhileUnpreparedPreparesAgain) {
  SetSQL({"select ID from T where ID = :A"});
  FQuery->ParamNamed("A").SetAsInt32(1);
  FQuery->ExecQuery();
  EXPECT_EQ(1, FQuery->ColumnNamed("ID").AsInt32());
  FQuery->CloseResult();
  FQuery->SQL().Add("or ID = :B");
  EXPECT_FALSE(FQuery->Prepared());
  FQuery->ParamNamed("B").SetAsInt32(2);
  FQuery->ExecQuery();  // A kept its value across the change
  int rows = 0;
  for (; !FQuery->AtEnd(); FQuery->FetchNext()) ++rows;
  EXPECT_EQ(2, rows);
}

TEST_F(FIBQueryDb, DDLRunsWithoutPreparation) {
  const uint64_t prepares = Calls(TIBEntry::isc_dsql_prepare);
  SetSQL({"create table DDL_T (a integer)"});
  EXPECT_EQ(skDDL, FQuery->StatementKind());
  FQuery->ExecQuery();
  EXPECT_EQ(prepares, Calls(TIBEntry::isc_dsql_prepare));
  FTr->Rollback();
}

TEST_F(FIBQueryDb, TextIntoBlobParameters) {
  SetSQL({"insert into BLOBS (ID, B) values (:ID, :B)"});
  const uint64_t creates = Calls(TIBEntry::isc_create_blob2);
  // The first execution learns at preparation that B is a blob.
  FQuery->ParamNamed("ID").SetAsInt32(1);
  FQuery->ParamNamed("B").SetAsText("short");
  FQuery->ExecQuery();
  const std::string big(40000, 'z');
  FQuery->ParamNamed("ID").SetAsInt32(2);
  FQuery->ParamNamed("B").SetAsText(big);
  FQuery->ExecQuery();
  EXPECT_EQ(creates + 2, Calls(TIBEntry::isc_create_blob2));

  SetSQL({"select B from BLOBS order by ID"});
  FQuery->ExecQuery();
  EXPECT_EQ("short", FQuery->ColumnNamed("B").AsText());
  FQuery->FetchNext();
  EXPECT_EQ(big, FQuery->ColumnNamed("B").AsText());
  FTr->Rollback();
}

// A dialect-3 database describes 64-bit integers, dates and times of their own.
TEST_F(FIBQueryDb, DialectThreeTypes) {
  FDb->SetFormatSettings({'.', "dd.mm.yyyy", "hh:nn:ss"});
  fbtest::TTempFolder folder;
  const std::string path = folder.Path() + "/d3.fdb";
  fbtest::CreateDatabase(path,
                         "create table W (N numeric(18,2), B bigint, D date, T time);\n"
                         "insert into W values (-1234567890123.05, 9000000000, '2026-03-05', "
                         "'10:15:07');",
                         "SYSDBA", "", 3);
  FDb->SetConnected(false);
  FDb->SetDBName(path);
  FDb->SetSQLDialect(3);
  FDb->SetConnected(true);
  FTr->StartTransaction();
  SetSQL({"select * from W"});
  FQuery->ExecQuery();
  EXPECT_EQ(SQL_INT64, FQuery->ColumnNamed("N").SQLType());
  EXPECT_EQ("-1234567890123.05", FQuery->ColumnNamed("N").AsText());
  EXPECT_EQ("9000000000", FQuery->ColumnNamed("B").AsText());
  EXPECT_EQ("05.03.2026", FQuery->ColumnNamed("D").AsText());
  EXPECT_EQ("10:15:07", FQuery->ColumnNamed("T").AsText());
  EXPECT_EQ("Invalid data conversion.", ClientErrorOf([&] { FQuery->ColumnNamed("B").AsInt32(); }));
  FDb->SetConnected(false);  // before the folder goes
}

TEST_F(FIBQueryDb, ConnectQueriesTheServerClock) {
  FDb->SetConnected(false);
  const uint64_t prepares = Calls(TIBEntry::isc_dsql_prepare);
  FDb->SetConnected(true);
  EXPECT_EQ(prepares + 1, Calls(TIBEntry::isc_dsql_prepare));
  // Same machine: the clocks agree within a minute.
  EXPECT_LT(std::fabs(FDb->ClockOffset()), 1.0 / 24 / 60);

  FDb->SetConnected(false);
  FDb->SetSynchronizeTime(false);
  FDb->SetConnected(true);
  EXPECT_EQ(prepares + 1, Calls(TIBEntry::isc_dsql_prepare));
}

// Statements kept across changes of text: a text that comes back runs on its
// handle with the parameters given now, under a later transaction too; the
// oldest goes past the limit; a closed connection takes every kept handle.
TEST_F(FIBQueryDb, KeptStatementsRunAgainWithoutPreparing) {
  FQuery->SetKeptStatements(3);
  auto idOf = [&](int id) {
    SetSQL({"select ID from T where ID = :ID"});
    FQuery->ParamNamed("ID").SetAsInt32(id);
    FQuery->ExecQuery();
    const std::string text = FQuery->AtEnd() ? "none" : FQuery->ColumnNamed("ID").AsText();
    FQuery->CloseResult();
    return text;
  };
  auto count = [&](std::initializer_list<const char*> sql) {
    SetSQL(sql);
    FQuery->ExecQuery();
    const std::string text = FQuery->ColumnArea()[0].AsText();
    FQuery->CloseResult();
    return text;
  };
  ASSERT_EQ("1", idOf(1));
  const uint64_t prepares = Calls(TIBEntry::isc_dsql_prepare);
  const std::string all = count({"select count(*) from T"});
  const std::string some = count({"select count(*) from T", "where ID > 1"});
  EXPECT_EQ(prepares + 2, Calls(TIBEntry::isc_dsql_prepare));
  FTr->Commit();
  FTr->StartTransaction();
  EXPECT_EQ("2", idOf(2));
  EXPECT_EQ("none", idOf(-5));
  EXPECT_EQ(all, count({"select count(*) from T"}));
  EXPECT_EQ(prepares + 2, Calls(TIBEntry::isc_dsql_prepare));
  // Three texts, three kept: each comes back.
  EXPECT_EQ(some, count({"select count(*) from T", "where ID > 1"}));
  EXPECT_EQ("1", idOf(1));
  EXPECT_EQ(prepares + 2, Calls(TIBEntry::isc_dsql_prepare));
  // Two kept for three texts: the one wanted next has gone each time.
  FQuery->SetKeptStatements(2);
  EXPECT_EQ(all, count({"select count(*) from T"}));
  EXPECT_EQ(some, count({"select count(*) from T", "where ID > 1"}));
  EXPECT_EQ(prepares + 4, Calls(TIBEntry::isc_dsql_prepare));

  FDb->SetConnected(false);
  FDb->SetConnected(true);
  FTr->StartTransaction();
  const uint64_t reconnected = Calls(TIBEntry::isc_dsql_prepare);
  EXPECT_EQ("1", idOf(1));
  EXPECT_EQ(some, count({"select count(*) from T", "where ID > 1"}));
  EXPECT_EQ(reconnected + 2, Calls(TIBEntry::isc_dsql_prepare));
}

// A statement taken up again, as it stands (the same lines set again) or from the
// kept ones, runs on its handle with every parameter unset: one that the next use
// leaves unset is NULL, not the value of the use before.
TEST_F(FIBQueryDb, StatementTakenUpAgainHasItsParametersUnset) {
  FQuery->SetKeptStatements(2);
  const std::vector<std::string> byId = {"select count(*) from T", "where ID = :ID or V = :V"};
  auto count = [&](const std::vector<std::string>& lines, int id) {
    FQuery->SQL().Assign(lines);
    if (id) FQuery->ParamNamed("ID").SetAsInt32(id);
    if (lines.size() > 1) FQuery->ParamNamed("V").SetAsText("none");
    FQuery->ExecQuery();
    const int n = FQuery->ColumnArea()[0].AsInt32();
    FQuery->CloseResult();
    return n;
  };
  ASSERT_EQ(1, count(byId, 2));
  const uint64_t prepares = Calls(TIBEntry::isc_dsql_prepare);
  FQuery->SQL().Assign(byId);
  EXPECT_TRUE(FQuery->ParamNamed("ID").IsNull());
  EXPECT_EQ(0, count(byId, 0));
  EXPECT_EQ(2, count({"select count(*) from T"}, 0));
  EXPECT_EQ(1, count(byId, 1));
  EXPECT_EQ(2, count({"select count(*) from T"}, 0));
  EXPECT_EQ(0, count(byId, 0));
  EXPECT_EQ(prepares + 1, Calls(TIBEntry::isc_dsql_prepare));
}

// A blob owner that dies holding its blob closes it with a status vector of its
// own: the thread's vector keeps the error it holds for an exception being raised.
TEST_F(FIBQueryDb, BlobOwnerClosesWithoutTouchingTheThreadsStatus) {
  ISC_STATUS* status = StatusVector();
  const uint64_t closes = Calls(TIBEntry::isc_close_blob);
  {
    TFBBlobHandle blob;
    ISC_QUAD id{};
    ASSERT_EQ(0, blob.Open(Lib(), [&](TFBHandleValue* handle) {
      return Lib().isc_create_blob2(status, FDb->Handle(), FTr->Handle(), handle, &id, 0, nullptr);
    }));
    status[0] = isc_arg_gds;
    status[1] = isc_io_error;
    status[2] = isc_arg_end;
  }
  EXPECT_EQ(closes + 1, Calls(TIBEntry::isc_close_blob));
  EXPECT_EQ(isc_io_error, status[1]);
  FTr->Rollback();
}
