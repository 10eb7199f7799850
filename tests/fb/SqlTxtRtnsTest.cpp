#include "fb/SqlTxtRtns.h"

#include <gtest/gtest.h>

#include "fb/fib.h"

namespace {

const char* KindName(TStatementKind k) {
  switch (k) {
    case skSelect:
      return "select";
    case skUpdate:
      return "update";
    case skDelete:
      return "delete";
    case skInsert:
      return "insert";
    case skProcedure:
      return "procedure";
    case skBlock:
      return "block";
    case skDDL:
      return "ddl";
    case skOther:
      return "other";
  }
  return "?";
}

std::string Names(const TScanResult& r) {
  std::string s;
  for (const auto& p : r.Params) s += (s.empty() ? "" : ",") + p.Name;
  return s;
}

// The parse error's whole message for a statement named owner.
std::string ParseFailure(const std::string& text, TStatementKind kind = skSelect) {
  try {
    ScanParams(text, kind, smServer, "M.Query");
  } catch (const EFIBClientError& e) {
    EXPECT_EQ(51, e.SqlCode);
    return e.Message();
  }
  return "no error";
}

}  // namespace

TEST(StatementKind, FirstWords) {
  const struct {
    const char* text;
    TStatementKind kind;
  } kCases[] = {
      {"select * from T\r\n", skSelect},
      {"SELECT(1) from T", skSelect},
      {"Merge into T", skSelect},
      {"Insert into T values (1)", skInsert},
      {"update T set a=1", skUpdate},
      {"delete from T", skDelete},
      {"execute procedure restaurant_importorders(:guid)\r\n", skProcedure},
      {"EXECUTE\r\n  PROCEDURE P", skProcedure},
      {"execute /* c */ block as begin end", skBlock},
      {"execute statement 'x'", skOther},
      {"create table T (a int)", skDDL},
      {"ALTER table T", skDDL},
      {"comment on table T is 'x'", skDDL},
      {"drop table T", skDDL},
      {"declare external function f", skDDL},
      {"grant all on T to U", skDDL},
      {"revoke all on T from U", skDDL},
      {"recreate table T (a int)", skDDL},
      {"set generator G to 5", skDDL},
      {"SET \"GENERATOR G", skDDL},
      {"set transaction", skOther},
      {"savepoint S1", skDDL},
      {"commit", skOther},
      {"  \r\n\t(; select 1 from T", skSelect},
      {"-- note\r\nselect 1 from T", skSelect},
      {"/* a */ /* b */insert into T", skInsert},
      {"selected", skDDL},  // a word beginning with "S" that is no keyword
      {"select*from T", skSelect},
      {"select_x", skDDL},
      {"updates", skOther},
      {"insert", skInsert},
      {"", skOther},
      {"   ", skOther},
      {"/* unterminated", skOther},
  };
  for (const auto& c : kCases)
    EXPECT_STREQ(KindName(c.kind), KindName(StatementKindOf(c.text))) << c.text;
}

TEST(HasParamMarker, MarkersOutsideStringsAndComments) {
  const struct {
    const char* text;
    bool has;
  } kCases[] = {
      {"select * from T where a = :a", true},
      {"select * from T where a = ?", true},
      {"select @m from T", true},
      {"select 'a:b' from T", false},
      {"select \"a:b\" from T", false},
      {"select 1 /* :a */ from T", false},
      {"select 1 -- :a\r\nfrom T", false},
      {"select 1 -- x\r\nfrom T where a = :a", true},
      {"select 1 -- x\nfrom T where a = :a", true},
      {"select 'abc :x\r\n", false},
      {":a", true},  // a marker at the very start still counts
      {"--'\r\nselect :a from T", true},
      {"select 'it''s' , :a from T", true},
      {"", false},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.has, HasParamMarker(c.text)) << c.text;
}

TEST(ScanParams, ServerTextKeepsLengthWithPlaceholders) {
  const struct {
    const char* text;
    TStatementKind kind;
    const char* names;
    const char* server;
  } kCases[] = {
      {"select * from RESTAURANT_GETPRICEFORMOBILE(:CARDCODE,:STATION)\r\n", skSelect,
       "CARDCODE,STATION", "select * from RESTAURANT_GETPRICEFORMOBILE(?        ,?       )\r\n"},
      {"select count(id) as cnt from Restaurant_ImportedOrders where Guid =:Guid\r\n", skSelect,
       "Guid", "select count(id) as cnt from Restaurant_ImportedOrders where Guid =?    \r\n"},
      {"execute procedure restaurant_importorders(:guid)\r\n", skProcedure, "guid",
       "execute procedure restaurant_importorders(?    )\r\n"},
      {"insert into T (a, b) values (:X, :X)", skInsert, "X,X",
       "insert into T (a, b) values (? , ? )"},
      {"select ':no', \":no\", a from T /* :no */ where b = :yes -- :no\r\n", skSelect, "yes",
       "select ':no', \":no\", a from T /* :no */ where b = ?    -- :no\r\n"},
      {"select 'it''s :no' from T where a=:a.b$#%_1+1", skSelect, "a.b$#%_1",
       "select 'it''s :no' from T where a=?        +1"},
      {"update T set a = ?p", skUpdate, "p", "update T set a = ? "},
      {"select 1 from T where a = :\"My Name\"", skSelect, "My Name",
       "select 1 from T where a = ?         "},
      {"create procedure P (a integer) as begin x = :a; end", skDDL, "",
       "create procedure P (a integer) as begin x = :a; end"},
      {"execute block (x int = :x) as declare y int; begin y = :x; end", skBlock, "x",
       "execute block (x int = ? ) as declare y int; begin y = :x; end"},
      {"select 1 from T", skSelect, "", "select 1 from T"},
      {"", skSelect, "", ""},
  };
  for (const auto& c : kCases) {
    const TScanResult r = ScanParams(c.text, c.kind, smServer, "Q");
    EXPECT_EQ(c.names, Names(r)) << c.text;
    EXPECT_EQ(c.server, r.ServerText) << c.text;
    const TScanResult caller = ScanParams(c.text, c.kind, smCaller, "Q");
    EXPECT_EQ(c.names, Names(caller)) << c.text;
    EXPECT_EQ("", caller.ServerText) << c.text;
  }
}

TEST(ScanParams, Positions) {
  const TScanResult r = ScanParams("select :ab, :\"c\" from T", skSelect, smCaller, "Q");
  ASSERT_EQ(2u, r.Params.size());
  EXPECT_EQ(8, r.Params[0].MarkerPos);
  EXPECT_EQ(10, r.Params[0].EndPos);
  EXPECT_FALSE(r.Params[0].Quoted);
  EXPECT_EQ(13, r.Params[1].MarkerPos);
  EXPECT_EQ(16, r.Params[1].EndPos);  // the closing quote
  EXPECT_TRUE(r.Params[1].Quoted);
}

TEST(ScanParams, WhereClauseNotes) {
  const struct {
    const char* text;
    TStatementKind kind;
    const char* inWhere;     // one flag per reference
    const char* canRewrite;  // one flag per reference
  } kCases[] = {
      {"select :a from T where b = :b and c = :c * 2", skSelect, "011", "010"},
      {"select 1 from T where b = :b group by c having d = :d", skSelect, "10", "10"},
      {"select 1 from T where b = :b order by :c", skSelect, "10", "10"},
      {"select 1 from T where b = :b union select 1 from U where c = :c", skSelect, "11", "11"},
      {"select (select 1 from U where u = :u), :v from T", skSelect, "10", "10"},
      {"select 1 from T where a in (select x from U where y = :y) and b = :b", skSelect, "11",
       "11"},
      {"select 1 from T where a = :a - 1 or b = :b -- c", skSelect, "11", "01"},
      {"select 1 from T where a = :a / 2 or b = :b /* c */", skSelect, "11", "01"},
      {"select 1 from T where a = :a + 1 or b = :b || 'x'", skSelect, "11", "00"},
      {"select 1 from Twhere a = :a", skSelect, "0", "0"},  // no keyword
      {"select 1 from T where(a = :a)", skSelect, "1", "1"},
      {"execute procedure P where :a", skProcedure, "0", "0"},
      {"update T set a = :a WHERE b = :b", skUpdate, "01", "01"},
  };
  for (const auto& c : kCases) {
    const TScanResult r = ScanParams(c.text, c.kind, smCaller, "Q");
    std::string inWhere, canRewrite;
    for (const auto& p : r.Params) {
      inWhere += p.InWhere ? '1' : '0';
      canRewrite += p.CanRewrite ? '1' : '0';
    }
    EXPECT_EQ(c.inWhere, inWhere) << c.text;
    EXPECT_EQ(c.canRewrite, canRewrite) << c.text;
  }
}

TEST(ScanParams, ParseErrorsNameTheStatement) {
  const std::string kPrefix = "SQL Parse Error in :M.Query \r\n\r\n";
  EXPECT_EQ(kPrefix + "Parameter name expected", ParseFailure("where a = :\r\n"));
  EXPECT_EQ(kPrefix + "Parameter name expected", ParseFailure("where a = :"));
  EXPECT_EQ(kPrefix + "Parameter name expected", ParseFailure("where a = ?"));
  EXPECT_EQ(kPrefix + "Parameter name expected", ParseFailure("where a = :\"\""));
  EXPECT_EQ(kPrefix + "EOF in string detected", ParseFailure("select :a, 'abc\r\n"));
  EXPECT_EQ(kPrefix + "EOF in string detected", ParseFailure("select \"abc"));
  EXPECT_EQ(kPrefix + "EOF in string detected", ParseFailure("select :\"abc"));
  EXPECT_EQ(kPrefix + "EOF in comment detected", ParseFailure("select /* :a"));
  EXPECT_EQ(kPrefix + "EOF in comment detected", ParseFailure("select /*/"));
  // A line comment may run to the end of the text.
  EXPECT_EQ("no error", ParseFailure("select 1 from T -- x"));
}

// The quick test must never rule out a text in which the scanner finds references.
TEST(HasParamMarker, NeverMissesWhatTheScannerFinds) {
  const char* kTexts[] = {"--'\r\nselect :a from T", "/*'*/ select :a from T",
                          "select \"x\" , :a from T", "select 1 -- '\nfrom T where a = :a",
                          "select 'a''b' , :a from T"};
  for (const char* t : kTexts) {
    ASSERT_FALSE(ScanParams(t, skSelect, smCaller, "Q").Params.empty()) << t;
    EXPECT_TRUE(HasParamMarker(t)) << t;
  }
}
