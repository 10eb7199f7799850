#include "soap/WebBrokerSOAP.h"

#include <gtest/gtest.h>

#include "cgi/Masks.h"
#include "soap/SoapTestImpl.h"
#include "tests/soap/SoapHarness.h"

namespace {

const char kFaultHead[] =
    "<?xml version=\"1.0\" encoding='UTF-8'?> <SOAP-ENV:Envelope "
    "xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" ><SOAP-ENV:Body> "
    "<SOAP-ENV:Fault> <faultcode>SOAP-ENV:Server</faultcode><faultstring>";
const char kFaultTail[] = "</faultstring></SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>";

std::string Call(const std::string& method, const std::string& value) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
         "<s:Envelope xmlns:s=\"http://schemas.xmlsoap.org/soap/envelope/\""
         " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\">"
         "<s:Body><m:" +
         method + " xmlns:m=\"urn:SoapTestIntf-ISoapTest\">" + value + "</m:" + method +
         "></s:Body></s:Envelope>";
}

const std::string kEchoDouble = Call("echoDouble", "<Value>2.5</Value>");

class SoapDispatch : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterSoapTest();
    FInvoker = new THTTPSoapPascalInvoker(&FOwner);
    FDispatcher = new THTTPSoapDispatcher(&FOwner);
    FDispatcher->SetDispatcher(FInvoker);
    FDispatcher->WebDispatch().SetPathInfo("soap*");
  }

  TAnswer Post(const std::string& path, std::map<std::string, std::string> env,
               const std::string& body = kEchoDouble) {
    env.emplace("REQUEST_METHOD", "POST");
    env.emplace("PATH_INFO", path);
    env.emplace("CONTENT_TYPE", "text/xml; charset=utf-8");
    return Serve(*FDispatcher, env, body);
  }

  TComponent FOwner;
  THTTPSoapPascalInvoker* FInvoker;
  THTTPSoapDispatcher* FDispatcher;
};

bool Answers(const TAnswer& a, const std::string& fragment) {
  return a.Status == 200 && a.ContentType == "text/xml" &&
         a.Body.find(fragment) != std::string::npos;
}

}  // namespace

TEST_F(SoapDispatch, SoapActionFormsAllBindTheInterface) {
  const struct {
    const char* var;
    const char* value;
  } kCases[] = {
      {"HTTP_SOAPACTION", "urn:SoapTestIntf-ISoapTest"},
      {"HTTP_SOAPACTION", "\"urn:SoapTestIntf-ISoapTest\""},
      {"HTTP_SOAPACTION", "urn:SoapTestIntf-ISoapTest#echoDouble"},
      // The operation comes from the body, whatever the SOAPAction names.
      {"HTTP_SOAPACTION", "\"urn:SoapTestIntf-ISoapTest#echoEnum\""},
      {"SOAPAction", "\"urn:SoapTestIntf-ISoapTest#echoDouble\""},
      {"SOAPACTION", "urn:SoapTestIntf-ISoapTest"},
  };
  for (const auto& c : kCases) {
    TAnswer a = Post("/soap", {{c.var, c.value}});
    EXPECT_TRUE(a.Handled);
    EXPECT_TRUE(Answers(a,
                        "<NS1:echoDoubleResponse xmlns:NS1=\"urn:SoapTestIntf-ISoapTest\">"
                        "<return xsi:type=\"xsd:double\">2.5</return>"))
        << c.var << "=" << c.value << "\n"
        << a.Output;
  }
}

TEST_F(SoapDispatch, WithoutSoapActionThePathNamesTheInterface) {
  for (const char* path : {"/soap/ISoapTest", "/soap/isoaptest", "/soap/x/ISOAPTEST"}) {
    EXPECT_TRUE(Answers(Post(path, {}), "<return xsi:type=\"xsd:double\">2.5</return>")) << path;
    EXPECT_TRUE(Answers(Post(path, {{"HTTP_SOAPACTION", "\"\""}}), ">2.5</return>")) << path;
  }
}

TEST_F(SoapDispatch, BindingFailuresAreStatus500Faults) {
  const struct {
    const char* path;
    const char* action;
    std::string message;
  } kCases[] = {
      {"/soap", "urn:Nothing", "No interface  registered for soap action 'urn:Nothing'"},
      {"/soap/ISoapTest", "\"urn:Nothing#echoDouble\"",
       "No interface  registered for soap action '\"urn:Nothing#echoDouble\"'"},
      {"/soap", "", "No interface  registered for URL '/soap'"},
      {"/soap/INothing", "", "No interface  registered for URL '/soap/INothing'"},
      // The caller's text is escaped, and taken as Windows-1251.
      {"/soap", "urn:<b>&amp;\xC0",
       "No interface  registered for soap action 'urn:&lt;b&gt;&amp;amp;\xD0\x90'"},
      {"/soap/<x>", "", "No interface  registered for URL '/soap/&lt;x&gt;'"},
  };
  for (const auto& c : kCases) {
    TAnswer a = Post(c.path, {{"HTTP_SOAPACTION", c.action}});
    EXPECT_TRUE(a.Handled);
    EXPECT_EQ(500, a.Status);
    EXPECT_EQ("text/xml", a.ContentType);
    EXPECT_EQ(kFaultHead + c.message + kFaultTail, a.Body) << c.path << " " << c.action;
  }
}

TEST_F(SoapDispatch, InterfaceWithoutClassAndMissingInvoker) {
  static const TSoapInterface kOrphan{"IOrphan", "OrphanIntf", "", {}};
  InvocationRegistry().RegisterInterface(kOrphan);
  EXPECT_EQ(std::string(kFaultHead) +
                "No invokable class registered that implements interface OrphanIntf.IOrphan "
                "of (soap action/path) urn:OrphanIntf-IOrphan" +
                kFaultTail,
            Post("/soap", {{"HTTP_SOAPACTION", "urn:OrphanIntf-IOrphan"}}).Body);
  EXPECT_EQ(std::string(kFaultHead) +
                "No invokable class registered that implements interface OrphanIntf.IOrphan "
                "of (soap action/path) /soap/iorphan" +
                kFaultTail,
            Post("/soap/iorphan", {}).Body);

  delete FInvoker;  // the dispatcher forgets it
  EXPECT_EQ(nullptr, FDispatcher->Dispatcher());
  TAnswer a = Post("/soap/ISoapTest", {});
  EXPECT_EQ(500, a.Status);
  EXPECT_EQ(std::string(kFaultHead) + "No Dispatcher set" + kFaultTail, a.Body);
}

TEST_F(SoapDispatch, CallFailuresAreStatus200Faults) {
  const struct {
    std::string body;
    const char* faultstring;
  } kCases[] = {
      {"", "Invalid SOAP envelope: Document is empty (line 1)"},
      {Call("echoTwice", ""), "Method echoTwice not found in interface ISoapTest"},
      {Call("echoEnum", "<Value>etMany</Value>"), "Value: 'etMany' is not a member of TEnumTest"},
      {Call("echoDouble", "<Value>1.5.1</Value>"), "Value: '1.5.1' is not a valid double"},
  };
  for (const auto& c : kCases) {
    TAnswer a = Post("/soap/ISoapTest", {}, c.body);
    EXPECT_TRUE(Answers(a, std::string("<faultstring>") + c.faultstring + "</faultstring>"))
        << c.body << "\n"
        << a.Output;
  }
}

TEST_F(SoapDispatch, AnswerIsACompleteCgiReply) {
  TAnswer a = Post("/soap/ISoapTest", {}, Call("echoEnum", "<Value>etAFew</Value>"));
  std::string head = "Status: 200 OK\r\nContent-Type: text/xml\r\nContent-Length: " +
                     std::to_string(a.Body.size()) + "\r\nContent:\r\n\r\n";
  EXPECT_EQ(head, a.Output.substr(0, head.size()));
  EXPECT_NE(std::string::npos, a.Body.find(">etAFew</return>"));
}

TEST_F(SoapDispatch, EchoesOfEveryOperation) {
  EXPECT_TRUE(
      Answers(Post("/soap/ISoapTest", {},
                   Call("echoDoubleArray", "<Value><i>1</i><i>-0.5</i><i>1e-300</i></Value>")),
              "SOAP-ENC:arrayType=\"xsd:double[3]\"><item xsi:type=\"xsd:double\">1"
              "</item><item xsi:type=\"xsd:double\">-0.5</item>"
              "<item xsi:type=\"xsd:double\">1e-300</item></return>"));
  TAnswer e = Post("/soap/ISoapTest", {},
                   Call("echoMyEmployee",
                        "<Value><LastName>Doe</LastName>"
                        "<Salary>99</Salary></Value>"));
  EXPECT_TRUE(Answers(e,
                      "<LastName xsi:type=\"xsd:string\"></LastName>"
                      "<FirstName xsi:type=\"xsd:string\"></FirstName>"
                      "<Salary xsi:type=\"xsd:double\">0</Salary>"))
      << e.Body;
}

TEST(SoapRouting, PostUnderSoapOnlyAndTheMaskIgnoresCase) {
  RegisterSoapTest();
  TCustomWebDispatcher module;
  auto* invoker = new THTTPSoapPascalInvoker(&module);
  auto* dispatcher = new THTTPSoapDispatcher(&module);
  dispatcher->SetDispatcher(invoker);
  dispatcher->WebDispatch().SetPathInfo("soap*");
  EXPECT_TRUE(dispatcher->Enabled());
  dispatcher->WebDispatch().SetEnabled(false);
  EXPECT_TRUE(dispatcher->Enabled());
  EXPECT_EQ(mtPost, dispatcher->MethodType());
  const struct {
    const char* path;
    bool matches;
  } kCases[] = {{"/soap", true}, {"/SOAP/ISoapTest", true}, {"/soapx", true}, {"/soa", false},
                {"", false},     {"/x/soap", false}};
  for (const auto& c : kCases)
    EXPECT_EQ(c.matches, dispatcher->PathMask().Matches(c.path)) << c.path;
}

TEST_F(SoapDispatch, MultipartRequestsCarryTheEnvelopeInTheirRootPart) {
  const std::string attachment =
      "--b1\r\nContent-Type: application/octet-stream\r\n"
      "Content-ID: <att>\r\n\r\n\x01\x02--b\r\n";
  const std::string root = "--b1\r\nContent-Type: text/xml\r\nContent-ID: <root@x>\r\n\r\n" +
                           Call("echoDouble", "<Value>7.25</Value>") + "\r\n";
  const struct {
    std::string type;
    std::string body;
  } kCases[] = {
      {"multipart/related; type=\"text/xml\"; boundary=\"b1\"", root + attachment + "--b1--\r\n"},
      {"Multipart/Related; boundary=b1; start=\"<root@x>\"", attachment + root + "--b1--"},
      {"multipart/related;start=root@x;boundary=b1", "preamble\r\n" + attachment + root + "--b1--"},
      {"multipart/related; boundary=b1",
       "--b1\r\n\r\n" + Call("echoDouble", "<Value>7.25</Value>") + "\r\n--b1--"},
  };
  for (const auto& c : kCases) {
    TAnswer a = Post("/soap/ISoapTest", {{"CONTENT_TYPE", c.type}}, c.body);
    EXPECT_TRUE(Answers(a, ">7.25</return>")) << c.type << "\n" << a.Output;
  }
  const struct {
    const char* type;
    const char* body;
    const char* message;
  } kBroken[] = {
      {"multipart/related", "--b1\r\n\r\nx\r\n--b1--", "Multipart request without a boundary"},
      {"multipart/related; boundary=b2", "--b1\r\n\r\nx\r\n--b1--",
       "Multipart request without a complete part"},
      {"multipart/related; boundary=b1", "--b1\r\nContent-ID: <a>\r\n\r\nunterminated",
       "Multipart request without a complete part"},
  };
  for (const auto& c : kBroken) {
    TAnswer a = Post("/soap/ISoapTest", {{"CONTENT_TYPE", c.type}}, c.body);
    EXPECT_EQ(500, a.Status) << c.type;
    EXPECT_EQ(kFaultHead + std::string(c.message) + kFaultTail, a.Body) << c.type;
  }
}
