// The terminal commands in-process against a demo database on the embedded
// engine: settings and connect, the lists and the order import.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "cgi/CGIApp.h"
#include "fb/IB_CallCounter.h"
#include "fb/pFIBDatabase.h"
#include "service/TerminalSession.h"
#include "service/Unit1.h"
#include "tests/cgi/FakeChannel.h"
#include "tests/service/ServeModule.h"

namespace {

namespace fs = std::filesystem;

const char kDecl[] = "<?xml version='1.0' encoding='Utf-8' standalone='yes' ?>";

// One demo database for the whole program, created once.
class DemoDatabase : public ::testing::Environment {
 public:
  static fs::path Dir() {
    static const fs::path dir =
        fs::temp_directory_path() / ("dorvana-svcdb-" + std::to_string(::getpid()));
    return dir;
  }
  static std::string File() { return (Dir() / "demo.fdb").string(); }

  // A copy of the template database that ctest makes once, when there is one;
  // else a database made here.
  void SetUp() override {
    fs::remove_all(Dir());
    fs::create_directories(Dir());
    const char* templ = std::getenv("DORVANA_DEMO_DB_TEMPLATE");
    if (templ && fs::exists(templ)) {
      fs::copy_file(templ, File());
      return;
    }
    const std::string cmd =
        std::string(DORVANA_SOURCE_DIR) + "/scripts/demo-db.sh '" + File() + "' >/dev/null 2>&1";
    ASSERT_EQ(0, std::system(cmd.c_str())) << cmd;
  }
  void TearDown() override { fs::remove_all(Dir()); }
};

const auto* const kDemo = ::testing::AddGlobalTestEnvironment(new DemoDatabase);

// Runs SQL on the demo database from a second connection.
void Sql(const std::string& statements) {
  const fs::path script = DemoDatabase::Dir() / "extra.sql";
  std::ofstream(script) << "set names UTF8;\nconnect '" << DemoDatabase::File()
                        << "' user SYSDBA;\n"
                        << statements << "\ncommit;\n";
  const std::string cmd = "isql-fb -q -b -i '" + script.string() + "' >/dev/null 2>&1";
  ASSERT_EQ(0, std::system(cmd.c_str())) << statements;
}

// A program folder of its own per test, which becomes the working directory.
class Module : public ::testing::Test {
 protected:
  void SetUp() override {
    FOld = fs::current_path();
    FDir = DemoDatabase::Dir() / ::testing::UnitTest::GetInstance()->current_test_info()->name();
    fs::create_directories(FDir);
    fs::current_path(FDir);
  }
  void TearDown() override { fs::current_path(FOld); }

  static void Settings(const std::string& text, const std::string& name = "dorvana.def") {
    std::ofstream(name, std::ios::binary) << text;
  }
  static std::string GoodSettings() {
    return "SERVER NAME=" + DemoDatabase::File() + "\r\nUSER NAME=SYSDBA\r\n";
  }

  // Serves one request; the whole CGI answer.
  static std::string Serve(const std::string& query, const std::string& body = "") {
    return ServeModule(body.empty() ? "GET" : "POST", query, body, "", 1 << 20);
  }
  static std::string Body(const std::string& answer) {
    const size_t at = answer.find("\r\n\r\n");
    return at == std::string::npos ? answer : answer.substr(at + 4);
  }
  static std::string ContentType(const std::string& answer) {
    const size_t at = answer.find("Content-Type: ");
    return at == std::string::npos ? "" : answer.substr(at + 14, answer.find("\r\n", at) - at - 14);
  }

  fs::path FOld, FDir;
};

TEST_F(Module, ConnectsWithTheSettingsFile) {
  Settings(GoodSettings(), "Dorvana.DEF");
  TDorvanaWebInterface module;
  EXPECT_EQ("", module.Session().Connect(service::ToolContext()));
  EXPECT_TRUE(module.Database->Connected());
}

TEST_F(Module, NoSettingsFileMeansNoConnect) {
  fs::create_directory("folder.def");  // a folder is no settings file
  TDorvanaWebInterface module;
  EXPECT_EQ("", module.Session().Connect(service::ToolContext()));
  EXPECT_FALSE(module.Database->Connected());
  const std::string answer = Serve("q=getsprfood&user=1001&device=HALL-1");
  EXPECT_EQ(0u, answer.find("Status: 500")) << answer;
  EXPECT_NE(
      std::string::npos,
      answer.find("DorvanaWebInterface.Database: Cannot perform operation -- DB is not open."))
      << answer;
}

TEST_F(Module, AFailedConnectReturnsItsMessage) {
  Settings("SERVER NAME=" + (FDir / "missing.fdb").string() + "\nUSER NAME=SYSDBA\n");
  TDorvanaWebInterface module;
  const std::string message = module.Session().Connect(service::ToolContext());
  EXPECT_EQ(0u, message.find("DorvanaWebInterface.Database:\r\n")) << message;
  EXPECT_FALSE(module.Database->Connected());
}

TEST_F(Module, OnlyTheFirst1024BytesCount) {
  // The good line ends within the limit; a later line that would break the
  // connect lies beyond it.
  std::string text = GoodSettings();
  text += std::string(1024 - text.size() - 1, '#') + "\n";
  ASSERT_EQ(1024u, text.size());
  text += "SERVER NAME=" + (FDir / "missing.fdb").string() + "\n";
  Settings(text);
  TDorvanaWebInterface module;
  EXPECT_EQ("", module.Session().Connect(service::ToolContext()));
}

// A key on the file's last line, ending at its 1024th byte, is read to its end.
TEST_F(Module, A1024ByteFileIsReadWhole) {
  std::string text = "USER NAME=SYSDBA\r\n";
  const std::string last = "SERVER NAME=" + DemoDatabase::File();
  text += std::string(1024 - text.size() - last.size() - 1, '#') + "\n" + last;
  ASSERT_EQ(1024u, text.size());
  Settings(text);
  TDorvanaWebInterface module;
  EXPECT_EQ("", module.Session().Connect(service::ToolContext()));
  EXPECT_TRUE(module.Database->Connected());
}

TEST_F(Module, ListsReplyInTheirLayout) {
  Settings(GoodSettings());
  Sql("insert into RESTAURANT_PRICELISTS (Id, Name) values (91, 'unit');"
      "insert into RESTAURANT_STATIONS (Id, Code, Name, IdPriceList) values (91, 'UNIT', 'unit', "
      "91);"
      "insert into RESTAURANT_MENU (Id, IdGroup, Fullname, EdVolume) values (9101, 3, ' Щи & хлеб "
      "', 'шт');"
      "insert into RESTAURANT_PRICES values (91, 9101, 0.5);");
  std::string answer = Serve("q=getsprfood&user=1001&device=UNIT");
  EXPECT_EQ("text/xml", ContentType(answer));
  EXPECT_EQ(std::string(kDecl) +
                "\r<foods>\r<food>Щи &amp; хлеб\r<ID>9101</ID>\r<IDGROUP>3</IDGROUP>\r"
                "<DEFQ>1</DEFQ>\r<PRICE>0.5</PRICE>\r<INPUTP>0</INPUTP>\r<VOL>шт</VOL>\r"
                "<WGHT>0</WGHT>\r</food>\r</foods>",
            Body(answer));
  answer = Serve("q=getsprfoodgroup&user=1001&device=UNIT");
  EXPECT_EQ(std::string(kDecl) +
                "\r<foodgroups>\r<foodgroup>Супы\r<ID>3</ID>\r</foodgroup>\r</foodgroups>",
            Body(answer));
  answer = Serve("q=getsprfood&user=nobody&device=UNIT");
  EXPECT_EQ(std::string(kDecl) + "\r<foods>\r</foods>", Body(answer));
  answer = Serve("q=getsprstewards");
  EXPECT_EQ("text/xml", ContentType(answer));
  EXPECT_NE(std::string::npos,
            Body(answer).find("\r<steward><pin></pin>Новикова Дарья</steward>\r"));
}

TEST_F(Module, ConnectFailuresAreAnsweredAsText) {
  Settings("SERVER NAME=" + (FDir / "missing.fdb").string() + "\nUSER NAME=SYSDBA\n");
  for (const char* q : {"q=getsprfood", "q=getsprfoodgroup", "q=getsprstewards"}) {
    const std::string answer = Serve(q);
    EXPECT_EQ(0u, answer.find("Status: 200")) << q;
    EXPECT_EQ("text/plain", ContentType(answer)) << q;
    EXPECT_EQ(0u, Body(answer).find("DorvanaWebInterface.Database:\r\n")) << answer;
  }
  const std::string answer = Serve("q=addorder", "<o><GUID>x</GUID></o>");
  EXPECT_EQ("text/html", ContentType(answer));
  EXPECT_EQ(0u, Body(answer).find("DorvanaWebInterface.Database:\r\n")) << answer;
}

// A database without the restaurant's objects: the statements fail after the
// connect, and the error page keeps the content type set by then.
TEST_F(Module, StatementFailuresBecomeTheErrorPage) {
  const std::string empty = (FDir / "empty.fdb").string();
  const std::string cmd = "echo \"create database '" + empty +
                          "' user SYSDBA;\" | isql-fb -q -sql_dialect 1 >/dev/null 2>&1";
  ASSERT_EQ(0, std::system(cmd.c_str()));
  Settings("SERVER NAME=" + empty + "\r\nUSER NAME=SYSDBA\r\n");
  const struct {
    const char* query;
    const char* type;
  } kCases[] = {{"q=getsprfood", "text/html"},
                {"q=getsprfoodgroup", "text/html"},
                {"q=getsprstewards", "text/xml"}};
  for (const auto& c : kCases) {
    const std::string answer = Serve(c.query);
    EXPECT_EQ(0u, answer.find("Status: 500")) << answer;
    EXPECT_EQ(c.type, ContentType(answer)) << c.query;
    EXPECT_NE(std::string::npos, answer.find("DorvanaWebInterface.Query:")) << answer;
  }
  // The duplicate check fails the same way; nothing is caught.
  const std::string answer = Serve("q=addorder", "<o><GUID>x</GUID></o>");
  EXPECT_EQ(0u, answer.find("Status: 500")) << answer;
}

// Another restaurant's database, with nothing but the objects the program names,
// of other column types and with other logic.
TEST_F(Module, NeedsOnlyTheNamedObjects) {
  const std::string db = (FDir / "other.fdb").string();
  std::ofstream("other.sql") << "set sql dialect 1;\ncreate database '" << db
                             << "' user SYSDBA default character set WIN1251;\n"
                             << R"(
create table RESTAURANT_PRICEGROUPS (Id integer, Name varchar(30), nOrder integer);
create table RESTAURANT_WAITERS (name varchar(30), Status integer, IdCard integer);
create table RESTAURANT_CARDS (id integer, code varchar(10));
create table Restaurant_ImportedOrders (id integer, guid varchar(40), DEVICEID varchar(20),
  WAITERCARDCODE varchar(20), TABLENUMBER integer);
create table Restaurant_ImportedOrderRows (id integer, guidOrder varchar(40), IDPRICE integer,
  Quantity integer, Volume integer, isModificator integer);
create generator Restaurant_ImportedOrders;
create generator Restaurant_ImportedOrderRows;
create exception EX_RESTAURANT_BAD 'bad';
set term ^;
create procedure RESTAURANT_GETPRICEFORMOBILE (C varchar(10), S varchar(10))
returns (Fullname varchar(30), Id integer, IdGroup integer, DefaultQuantity double precision,
  PRICE double precision, ISINPUTPRICE integer, EdVolume varchar(5), ISINPUTVOLUME integer)
as begin
  if (C = 'k') then begin
    Fullname = 'Tea'; Id = 7; IdGroup = 1; DefaultQuantity = 1.5; PRICE = 3.005;
    ISINPUTPRICE = 0; EdVolume = 'cup'; ISINPUTVOLUME = 0; suspend;
  end
end^
create procedure restaurant_importorders (g varchar(40)) as begin
  if (exists(select 1 from Restaurant_ImportedOrderRows where guidOrder = :g and IDPRICE = 0)) then
    exception EX_RESTAURANT_BAD 'Row with id 0';
end^
set term ;^
insert into RESTAURANT_PRICEGROUPS values (1, 'Drinks', 1);
insert into RESTAURANT_CARDS values (1, 'k');
insert into RESTAURANT_WAITERS values ('Ann', 0, 1);
commit;
)";
  ASSERT_EQ(0, std::system("isql-fb -q -b -i other.sql >/dev/null 2>&1"));
  Settings("SERVER NAME=" + db + "\r\nUSER NAME=SYSDBA\r\n");

  EXPECT_EQ(std::string(kDecl) +
                "\r<foods>\r<food>Tea\r<ID>7</ID>\r<IDGROUP>1</IDGROUP>\r<DEFQ>1.5</DEFQ>\r"
                "<PRICE>3</PRICE>\r<INPUTP>0</INPUTP>\r<VOL>cup</VOL>\r<WGHT>0</WGHT>\r</food>\r"
                "</foods>",
            Body(Serve("q=getsprfood&user=k")));
  EXPECT_EQ(std::string(kDecl) +
                "\r<foodgroups>\r<foodgroup>Drinks\r<ID>1</ID>\r</foodgroup>\r</foodgroups>",
            Body(Serve("q=getsprfoodgroup&user=k")));
  EXPECT_EQ(std::string(kDecl) + "\r<stewards>\r<steward><pin>k</pin>Ann</steward>\r</stewards>",
            Body(Serve("q=getsprstewards")));
  const std::string order =
      "<o><GUID>g</GUID><DEVICEID>d</DEVICEID><PIN>k</PIN><TABLE>1</TABLE><FOODS><r>0<count>1"
      "</count><weight>0</weight><isModificator>n</isModificator></r></FOODS></o>";
  EXPECT_EQ("Row with id 0.", Body(Serve("q=addorder", order)));
}

std::string Order(const std::string& guid, const std::string& table, const std::string& rows) {
  return "<ORDER>\n<GUID>" + guid +
         "</GUID>\n<DEVICEID>HALL-1</DEVICEID>\n<PIN>1001</PIN>\n<TABLE>" + table +
         "</TABLE>\n<FOODS>\n" + rows + "</FOODS>\n</ORDER>\n";
}
std::string Row(int id, const std::string& mod = "no") {
  return "<f>" + std::to_string(id) + "<count>1</count><weight>0</weight><isModificator>" + mod +
         "</isModificator></f>\n";
}

TEST_F(Module, TheFirstSettingsFileByNameIsUsedAndTheOthersNamed) {
  // Ten files that would fail the connect around the one that works: whatever
  // order the folder lists them in, the first name in byte order is used.
  for (const char* name : {"b.def", "c.def", "d.def", "e.def", "f.def", "g.def", "h.def",
                           "test.def", "x.def", "z.def"})
    Settings("SERVER NAME=" + (FDir / "missing.fdb").string() + "\nUSER NAME=SYSDBA\n", name);
  Settings(GoodSettings(), "a.def");
  for (int i = 0; i < 3; ++i) {
    // The line goes through the request's channel, to its error stream where it
    // has one (a FastCGI request's), never to the process's standard error.
    TLoggingChannel channel;
    ::testing::internal::CaptureStderr();
    const std::string answer = ServeModuleOn(channel, "GET", "q=getsprstewards", "", "", 1 << 20);
    EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
    const std::string& log = channel.Errors;
    EXPECT_EQ(0u, answer.find("Status: 200")) << answer;
    // One line a request, in the program's form: time, command, text.
    EXPECT_EQ(1, std::count(log.begin(), log.end(), '\n')) << log;
    EXPECT_EQ(20u, log.find(" getsprstewards: warning: 11 settings files in the working folder; "
                            "using \"a.def\", ignoring \"b.def\", "))
        << log;
    EXPECT_EQ('Z', log[19]) << log;
    EXPECT_NE(std::string::npos, log.find("\"z.def\". Keep exactly one.\n")) << log;
  }
  // One file: nothing written.
  for (const char* name : {"b.def", "c.def", "d.def", "e.def", "f.def", "g.def", "h.def",
                           "test.def", "x.def", "z.def"})
    fs::remove(name);
  ::testing::internal::CaptureStderr();
  Serve("q=getsprstewards");
  EXPECT_EQ("", ::testing::internal::GetCapturedStderr());
}

TEST_F(Module, TheConnectTimeoutGoesLastInTheAttachItems) {
  using Lines = std::vector<std::string>;
  const struct {
    std::string settings;
    Lines params;
  } kCases[] = {
      {GoodSettings(), {"lc_ctype=WIN1251", "user_name=SYSDBA", "connect_timeout=15"}},
      // The user, password and role entries follow the lines.
      {"CONNECT TIMEOUT=5\r\nROLE NAME=R\r\n" + GoodSettings(),
       {"lc_ctype=WIN1251", "sql_role_name=R", "user_name=SYSDBA", "connect_timeout=5"}},
      {"PASSWORD=x\r\nROLE NAME=R\r\nPASSWORD=\r\n" + GoodSettings() + "PASSWORD=y\r\n",
       {"lc_ctype=WIN1251", "sql_role_name=R", "user_name=SYSDBA", "password=y",
        "connect_timeout=15"}},
      {GoodSettings() + "CONNECT TIMEOUT=255\r\n",
       {"lc_ctype=WIN1251", "user_name=SYSDBA", "connect_timeout=255"}},
  };
  for (const auto& c : kCases) {
    Settings(c.settings);
    TDorvanaWebInterface module;
    EXPECT_EQ("", module.Session().Connect(service::ToolContext())) << c.settings;
    EXPECT_EQ(c.params, module.Database->DBParams().Lines()) << c.settings;
    // The attach item itself: code 57, one byte of seconds, at the end.
    const std::string& dpb = module.Database->DPB();
    ASSERT_GE(dpb.size(), 3u);
    EXPECT_EQ(57, dpb[dpb.size() - 3]);
    EXPECT_EQ(1, dpb[dpb.size() - 2]);
    EXPECT_EQ(std::stoi(c.params.back().substr(16)), static_cast<unsigned char>(dpb.back()));
  }
}

TEST_F(Module, ABadConnectTimeoutFailsLikeAConnect) {
  for (const char* value : {"0", "256", "abc", "", " 15", "1.5"}) {
    Settings(GoodSettings() + "CONNECT TIMEOUT=" + value + "\r\n");
    const std::string message =
        "Settings file \"dorvana.def\": the line \"CONNECT TIMEOUT=" + std::string(value) +
        "\" is not a whole number of seconds from 1 to 255. Nothing was "
        "sent to the database.";
    {
      TDorvanaWebInterface module;
      EXPECT_EQ(message, module.Session().Connect(service::ToolContext())) << value;
      EXPECT_FALSE(module.Database->Connected());
    }
    const std::string answer = Serve("q=getsprfood&user=1001&device=HALL-1");
    EXPECT_EQ("text/plain", ContentType(answer)) << value;
    EXPECT_EQ(message, Body(answer)) << value;
    EXPECT_EQ(message, Body(Serve("q=addorder", Order("unit-to", "5", Row(301))))) << value;
  }
}

TEST_F(Module, ABlankGuidIsRefusedAndNothingImported) {
  Settings(GoodSettings());
  // The first blank order would otherwise be stored and every later one answered
  // "ok" as its duplicate, and lost.
  for (const char* guid : {"", " ", " \t\r\n "}) {
    const std::string answer = Serve("q=addorder", Order(guid, "5", Row(301)));
    EXPECT_EQ(0u, answer.find("Status: 500")) << guid << answer;
    EXPECT_NE(std::string::npos, answer.find("The order's GUID is empty: nothing was imported."))
        << answer;
  }
  EXPECT_EQ("ok", Body(Serve("q=addorder", Order("unit-blank", "5", Row(301)))));
}

TEST_F(Module, ARequestWithoutABodyLeavesNoCopy) {
  Settings(GoodSettings());
  for (const char* method : {"GET", "POST"}) {
    const std::string answer = ServeModule(method, "q=addorder", "", "", 1 << 20);
    EXPECT_EQ(0u, answer.find("Status: 500")) << answer;
    EXPECT_NE(std::string::npos, answer.find("No root element found in xml")) << answer;
  }
  EXPECT_FALSE(fs::exists("Orders") && !fs::is_empty("Orders"));
}

TEST_F(Module, ImportsAnOrderOnce) {
  Settings(GoodSettings());
  const std::string order = Order("unit-1", "5", Row(301) + Row(1401, "Yes"));
  EXPECT_EQ("ok", Body(Serve("q=addorder", order)));
  EXPECT_EQ("ok", Body(Serve("q=addorder", order)));
  size_t copies = 0;
  for (const auto& e : fs::directory_iterator("Orders")) copies += e.is_regular_file();
  EXPECT_EQ(2u, copies);
  // The same order with a bad row now answers ok: it is there already.
  EXPECT_EQ("ok", Body(Serve("q=addorder", Order("unit-1", "5", Row(9999)))));
}

TEST_F(Module, ImportFailuresAnswerOneLine) {
  Settings(GoodSettings());
  const struct {
    std::string order;
    std::string reply;
  } kCases[] = {
      {Order("unit-2", "5", Row(9999)), "Позиции меню с кодом 9999 нет, обновите меню."},
      {Order("unit-3", "5 ", Row(301)), "'5 ' is not a valid integer value"},
      {Order("unit-4", "5", Row(301, "1")), "Cannot convert value to bool"},
      {Order("unit-5", "5", "<f>301<count>1</count><isModificator>N</isModificator></f>"),
       "The order has no weight element."},
      // Every node inside FOODS is a row, a comment too.
      {Order("unit-6", "5", Row(301) + "<!-- note -->"), "' note ' is not a valid integer value"},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.reply, Body(Serve("q=addorder", c.order))) << c.order;
  // Nothing of them stays in the database: a fixed post of one goes through.
  EXPECT_EQ("ok", Body(Serve("q=addorder", Order("unit-3", " 5", Row(301)))));
}

TEST_F(Module, AnOrderWithoutGuidIsRefused) {
  Settings(GoodSettings());
  const std::string answer = Serve("q=addorder", "<ORDER><TABLE>5</TABLE><FOODS/></ORDER>");
  EXPECT_EQ(0u, answer.find("Status: 500")) << answer;
  EXPECT_NE(std::string::npos, answer.find("The order has no GUID element")) << answer;
}

}  // namespace

namespace {

// The connection parameters and state a module's database ends up with.
std::string ConnectionState(TDorvanaWebInterface& module) {
  std::string state = module.Database->DBName() + "|";
  for (const std::string& line : module.Database->DBParams().Lines()) state += line + ";";
  return state + (module.Database->Connected() ? "|connected" : "|closed");
}

}  // namespace

// A process that serves many requests keeps its module: each request's settings
// file applies as to a module just made, whatever the file said before.
TEST_F(Module, SettingsApplyAsToANewModuleWhateverCameBefore) {
  const std::string good = GoodSettings();
  const std::string missing = "SERVER NAME=" + (FDir / "missing.fdb").string() + "\r\n";
  const std::string kTexts[] = {
      good,
      good + "ROLE NAME=CLERK\r\n",
      "ROLE NAME=CLERK\r\n" + good,
      good + "CONNECT TIMEOUT=7\r\n",
      missing,
      "",  // no settings file at all
  };
  auto apply = [](TDorvanaWebInterface& module, const std::string& text) {
    fs::remove("dorvana.def");
    if (!text.empty()) Settings(text);
    return module.Session().Connect(service::ToolContext());
  };
  for (const std::string& first : kTexts) {
    for (const std::string& second : kTexts) {
      TDorvanaWebInterface fresh;
      const std::string freshMessage = apply(fresh, second);
      TDorvanaWebInterface kept;
      apply(kept, first);
      EXPECT_EQ(freshMessage, apply(kept, second)) << first << " then " << second;
      EXPECT_EQ(ConnectionState(fresh), ConnectionState(kept)) << first << " then " << second;
    }
  }
}

TEST_F(Module, TheConnectionIsKeptWhileTheSettingsStay) {
  Settings(GoodSettings() + "ROLE NAME=CLERK\r\n");
  TDorvanaWebInterface module;
  ASSERT_EQ("", module.Session().Connect(service::ToolContext()));
  const int attachment = module.Database->AttachmentID();
  // Rewritten with the same lines, in another line-end style: the same connection.
  Settings("SERVER NAME=" + DemoDatabase::File() + "\nUSER NAME=SYSDBA\nROLE NAME=CLERK\n");
  ASSERT_EQ("", module.Session().Connect(service::ToolContext()));
  EXPECT_EQ(attachment, module.Database->AttachmentID());
  // A line removed: a new connection.
  Settings(GoodSettings());
  ASSERT_EQ("", module.Session().Connect(service::ToolContext()));
  EXPECT_TRUE(module.Database->Connected());
  EXPECT_NE(attachment, module.Database->AttachmentID());
}

// Requests through one application, as a FastCGI process serves them: each
// answer is the one a new process gives (a failing request and a POST among
// them), whatever came before.
TEST_F(Module, RequestsThroughAKeptModuleOweNothingToEachOther) {
  Settings(GoodSettings());
  const struct {
    const char* method;
    const char* query;
    const char* body;
  } kRequests[] = {
      {"GET", "q=getsprstewards", ""},
      {"POST", "q=test&a=1", "x=1&y=2"},
      {"GET", "q=getsprfoodgroup&user=1001&device=HALL-1", ""},
      {"GET", "q=test&a=%zz", ""},
      {"POST", "q=addorder", "<ORDER><GUID>kept-module</GUID><TABLE>x</TABLE></ORDER>"},
      {"GET", "q=getsprfood&user=1001&device=HALL-1", ""},
      {"GET", "q=test", ""},
  };
  TFakeChannel channel;
  TCGIApplication app(channel);
  app.RegisterModuleClass(WebModuleClass<TDorvanaWebInterface>("TDorvanaWebInterface"));
  for (int round = 0; round < 2; ++round) {
    for (const auto& r : kRequests) {
      const std::string fresh = ServeModule(r.method, r.query, r.body, "", 1 << 20);
      channel = TFakeChannel();
      channel.ReadLimit = 1 << 20;
      channel.Env = {
          {"SERVER_PROTOCOL", "HTTP/1.1"}, {"REQUEST_METHOD", r.method}, {"QUERY_STRING", r.query}};
      channel.Input = r.body;
      if (*r.body) channel.Env["CONTENT_LENGTH"] = std::to_string(channel.Input.size());
      app.Run();
      EXPECT_EQ(fresh, channel.Output) << r.query;
    }
  }
  EXPECT_EQ(1, app.InactiveCount());
}

// A kept module prepares each statement once per connection: a request that runs
// the texts its statements already hold prepares nothing and answers the same
// bytes; a new connection (other settings) prepares again, and answers the same.
TEST_F(Module, AKeptModulePreparesOncePerConnection) {
  Settings(GoodSettings());
  const std::string order = Order("kept-prepared", "5", Row(301));
  TFakeChannel channel;
  TCGIApplication app(channel);
  app.RegisterModuleClass(WebModuleClass<TDorvanaWebInterface>("TDorvanaWebInterface"));
  auto serve = [&](const std::string& query, const std::string& body = "") {
    channel = TFakeChannel();
    channel.ReadLimit = 1 << 20;
    channel.Env = {{"SERVER_PROTOCOL", "HTTP/1.1"},
                   {"REQUEST_METHOD", body.empty() ? "GET" : "POST"},
                   {"QUERY_STRING", query}};
    channel.Input = body;
    if (!body.empty()) channel.Env["CONTENT_LENGTH"] = std::to_string(body.size());
    app.Run();
    return channel.Output;
  };
  const std::string stewards = serve("q=getsprstewards");
  ASSERT_NE(std::string::npos, stewards.find("<steward>")) << stewards;
  TIBCallCounter counter(*AcquireClientLibrary("fbclient.dll"));
  EXPECT_EQ(stewards, serve("q=getsprstewards"));
  EXPECT_EQ(0u, counter.Count(TIBEntry::isc_dsql_prepare));

  // The order is imported, then found by its identifier with the check prepared.
  ASSERT_EQ("ok", Body(serve("q=addorder", order)));
  const std::string again = serve("q=addorder", order);
  counter.Reset();
  EXPECT_EQ(again, serve("q=addorder", order));
  EXPECT_EQ("ok", Body(again));
  EXPECT_EQ(0u, counter.Count(TIBEntry::isc_dsql_prepare));

  // The texts of other commands in between take nothing away: the list and a
  // new order run prepared, and both answer as a new module does.
  counter.Reset();
  EXPECT_EQ(stewards, serve("q=getsprstewards"));
  const std::string other = Order("kept-prepared-2", "6", Row(301) + Row(1401, "Yes"));
  EXPECT_EQ("ok", Body(serve("q=addorder", other)));
  EXPECT_EQ(0u, counter.Count(TIBEntry::isc_dsql_prepare));
  EXPECT_EQ(Body(Serve("q=addorder", Order("kept-prepared-3", "6", Row(9999)))),
            Body(serve("q=addorder", Order("kept-prepared-4", "6", Row(9999)))));

  // A new connection: no handle of the old one is used; the list prepares anew.
  Settings(GoodSettings() + "CONNECT TIMEOUT=7\r\n");
  counter.Reset();
  EXPECT_EQ(stewards, serve("q=getsprstewards"));
  // The connect's reading of the server's clock, and the list.
  EXPECT_EQ(2u, counter.Count(TIBEntry::isc_dsql_prepare));
  EXPECT_EQ(1u, counter.Count(TIBEntry::isc_detach_database));
  counter.Reset();
  EXPECT_EQ(stewards, serve("q=getsprstewards"));
  EXPECT_EQ(0u, counter.Count(TIBEntry::isc_dsql_prepare));
}
