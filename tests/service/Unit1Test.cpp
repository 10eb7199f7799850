#include "service/Unit1.h"

#include <gtest/gtest.h>

#include <string>

#include "cgi/CGIApp.h"
#include "cgi/Masks.h"
#include "fb/pFIBDatabase.h"
#include "fb/pFIBQuery.h"
#include "service/Statements.h"
#include "service/TerminalSession.h"
#include "soap/WSDLPub.h"
#include "soap/WebBrokerSOAP.h"
#include "tests/cgi/FakeChannel.h"
#include "tests/service/ServeModule.h"

namespace {

const std::string kHead = "Status: 200 OK\r\nContent-Type: text/html\r\n";

std::string Serve(const std::string& method, const std::string& query, const std::string& body = "",
                  const std::string& pathInfo = "") {
  return ServeModule(method, query, body, pathInfo);
}

std::string Answer(const std::string& content) {
  return kHead + "Content-Length: " + std::to_string(content.size()) + "\r\nContent:\r\n\r\n" +
         content;
}

TEST(DefaultHandler, TestEchoesTheRequest) {
  const struct {
    const char* method;
    const char* query;
    const char* body;
    const char* path;
    std::string reply;
  } kCases[] = {
      {"GET", "q=test&a=1", "", "", "type: 1\n\rparam_count=2\n\rparams: \n\rq=test\r\na=1\r\n"},
      {"GET", "Q=test", "", "/", "type: 1\n\rparam_count=1\n\rparams: \n\rQ=test\r\n"},
      {"GET", "q=test&q=getsprfood", "", "/soap",
       "type: 1\n\rparam_count=2\n\rparams: \n\rq=test\r\nq=getsprfood\r\n"},
      {"POST", "q=test", "x=1\r\n\r\ny=%41+b", "",
       "type: 3\n\rx=1\r\ny=A b\r\nparam_count=1\n\rparams: \n\rq=test\r\n"},
      {"DELETE", "q%3Dtest&&z", "", "/other",
       "type: 0\n\rparam_count=3\n\rparams: \n\rq=test\r\n\r\nz\r\n"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(Answer(c.reply), Serve(c.method, c.query, c.body, c.path)) << c.query;
}

// The echo goes out as text/html: no byte of a field may open markup in it.
TEST(DefaultHandler, TestEscapesEveryEchoedField) {
  const struct {
    const char* method;
    const char* query;
    const char* body;
    std::string reply;
  } kCases[] = {
      {"GET", "q=test&a=<script>alert(1)</script>", "",
       "type: 1\n\rparam_count=2\n\rparams: "
       "\n\rq=test\r\na=&lt;script&gt;alert(1)&lt;/script&gt;\r\n"},
      // Names as well as values, decoded from "%" sequences first.
      {"GET", "q=test&%3Cb%3E=x%26y%3E", "",
       "type: 1\n\rparam_count=2\n\rparams: \n\rq=test\r\n&lt;b&gt;=x&amp;y&gt;\r\n"},
      {"POST", "q=test", "<img src=x onerror=alert(1)>=%3C%26%3E",
       "type: 3\n\r&lt;img src=x onerror=alert(1)&gt;=&lt;&amp;&gt;\r\nparam_count=1\n\rparams: "
       "\n\rq=test\r\n"},
      // An entity already written stays visible as the text it was.
      {"GET", "q=test&a=%26lt%3B", "",
       "type: 1\n\rparam_count=2\n\rparams: \n\rq=test\r\na=&amp;lt;\r\n"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(Answer(c.reply), Serve(c.method, c.query, c.body)) << c.query;
}

TEST(DefaultHandler, NoCommandGivesAnEmptyHtmlAnswer) {
  for (const char* query :
       {"", "q=", "q=TEST", "q=Test", "qq=test", "q=test2", "q=getSprFood", "q=&q=test", "q"})
    EXPECT_EQ(kHead + "Content:\r\n\r\n", Serve("GET", query)) << query;
}

TEST(DefaultHandler, DecodingErrorGivesTheDispatcherPage) {
  const std::string page =
      "<html><body><h1>Internal Application Error</h1>\r\n<p>Invalid URL encoded character "
      "(%zz) at position 3\r\n<p><hr width=\"100%\"><i>/x</i></body></html>";
  EXPECT_EQ("Status: 500 Internal Server Error\r\nContent-Type: text/html\r\nContent-Length: " +
                std::to_string(page.size()) + "\r\nContent:\r\n\r\n" + page,
            Serve("POST", "q=test", "a=%zz", "/x"));
}

TEST(DorvanaWebInterface, FormBuildsTheModule) {
  TDorvanaWebInterface module;
  EXPECT_EQ("DorvanaWebInterface", module.Name());
  ASSERT_EQ(1, module.Actions().Count());
  TWebActionItem* item = module.Actions().Items(0);
  EXPECT_EQ("DefaultHandler", item->Name());
  EXPECT_TRUE(item->Default());
  EXPECT_EQ("/", item->PathInfo());
  EXPECT_EQ(mtAny, item->MethodType());
  for (int i = 0; i < module.ComponentCount(); ++i)
    EXPECT_EQ("DorvanaWebInterface." + module.Components(i)->Name(),
              module.Components(i)->FullName());
}

// What the form must hold: the database components' fixed settings and links,
// the same in the tools' module of the database part alone, whose components
// carry the same names; the SOAP components and their routing.
void ExpectDatabaseForm(TDorvanaWebInterface& m) {
  using Lines = std::vector<std::string>;
  ASSERT_TRUE(m.Database && m.TransactionRead && m.TransactionRW && m.Query && m.QueryOrder);
  EXPECT_EQ("DorvanaWebInterface.Database", m.Database->FullName());
  EXPECT_EQ(Lines{"lc_ctype=WIN1251"}, m.Database->DBParams().Lines());
  EXPECT_EQ(1, m.Database->SQLDialect());
  EXPECT_EQ("fbclient.dll", m.Database->LibraryName());
  EXPECT_EQ("", m.Database->DBName());
  EXPECT_FALSE(m.Database->Connected());
  EXPECT_EQ(m.TransactionRead, m.Database->DefaultTransaction());
  EXPECT_EQ(m.TransactionRW, m.Database->DefaultUpdateTransaction());
  const struct {
    TpFIBTransaction* transaction;
    Lines params;
  } kTransactions[] = {
      {m.TransactionRead, {"read", "nowait", "rec_version", "read_committed"}},
      {m.TransactionRW, {"write", "nowait", "rec_version", "read_committed"}},
  };
  for (const auto& t : kTransactions) {
    EXPECT_EQ(t.params, t.transaction->TRParams().Lines()) << t.transaction->Name();
    EXPECT_EQ(m.Database, t.transaction->DefaultDatabase()) << t.transaction->Name();
    EXPECT_EQ(TARollback, t.transaction->TimeoutAction()) << t.transaction->Name();
  }
  EXPECT_EQ(m.Database, m.Query->Database());
  EXPECT_EQ(m.TransactionRead, m.Query->Transaction());
  EXPECT_EQ(m.Database, m.QueryOrder->Database());
  EXPECT_EQ(m.TransactionRW, m.QueryOrder->Transaction());
  // Each statement of the catalogue runs on the query and transaction that the
  // commands use for it.
  for (const service::TCommandStatement& statement : service::kCommandStatements) {
    const bool write = statement.Lines == &service::kSqlInsertOrder ||
                       statement.Lines == &service::kSqlInsertOrderRow ||
                       statement.Lines == &service::kSqlImportOrder;
    EXPECT_EQ(write ? m.QueryOrder : m.Query, &m.Session().QueryOf(statement));
    EXPECT_EQ(write ? m.TransactionRW : m.TransactionRead, &m.Session().TransactionOf(statement));
  }
}

TEST(DorvanaWebInterface, FormHoldsItsComponents) {
  TDorvanaWebInterface m;
  ExpectDatabaseForm(m);
  TDorvanaWebInterface tools{TDorvanaWebInterface::TDatabaseOnly{}};
  ExpectDatabaseForm(tools);
  EXPECT_EQ(5, tools.ComponentCount());
  EXPECT_EQ(0, tools.Actions().Count());
  EXPECT_FALSE(tools.HTTPSoapDispatcher1 || tools.HTTPSoapPascalInvoker1 || tools.WSDLHTMLPublish1);

  ASSERT_TRUE(m.HTTPSoapDispatcher1 && m.HTTPSoapPascalInvoker1 && m.WSDLHTMLPublish1);
  EXPECT_EQ(m.HTTPSoapPascalInvoker1, m.HTTPSoapDispatcher1->Dispatcher());
  EXPECT_EQ(TSOAPConvertOptions({soSendMultiRefObj, soTryAllSchema}),
            m.HTTPSoapPascalInvoker1->Converter().Options());
  // The SOAP dispatcher takes POSTs under /soap, the publisher any method under /wsdl,
  // and the SOAP dispatcher is asked first.
  EXPECT_EQ(mtPost, m.HTTPSoapDispatcher1->WebDispatch().MethodType());
  EXPECT_TRUE(m.HTTPSoapDispatcher1->WebDispatch().Mask().Matches("/SOAP/ISoapTest"));
  EXPECT_EQ(mtAny, m.WSDLHTMLPublish1->WebDispatch().MethodType());
  EXPECT_TRUE(m.WSDLHTMLPublish1->WebDispatch().Mask().Matches("/wsdl"));
  EXPECT_FALSE(m.WSDLHTMLPublish1->AdminEnabled());
  EXPECT_FALSE(m.WSDLHTMLPublish1->TargetNamespace().empty());
  const std::vector<IWebAutoDispatch*> autoDispatch = m.AutoDispatchList();
  ASSERT_EQ(2u, autoDispatch.size());
  EXPECT_EQ(dynamic_cast<IWebAutoDispatch*>(m.HTTPSoapDispatcher1), autoDispatch[0]);
  EXPECT_EQ(dynamic_cast<IWebAutoDispatch*>(m.WSDLHTMLPublish1), autoDispatch[1]);
}

}  // namespace
