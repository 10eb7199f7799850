#include "soap/WSDLPub.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <functional>

#include "cgi/Masks.h"
#include "soap/SoapTestImpl.h"
#include "tests/soap/SoapHarness.h"
#include "tests/soap/XPath.h"

namespace {

class WSDLPublish : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterSoapTest();
    FPublisher = new TWSDLHTMLPublish(&FOwner);
    FPublisher->WebDispatch().SetMethodType(mtAny);
    FPublisher->WebDispatch().SetPathInfo("wsdl*");
    FPublisher->SetTargetNamespace("urn:test-target");
    FPublisher->SetModulePath("/nonexistent/dir/prog.exe");
  }

  TAnswer Get(const std::string& path, const std::string& host = "h",
              const std::string& port = "8080") {
    return Serve(*FPublisher, {{"REQUEST_METHOD", "GET"},
                               {"PATH_INFO", path},
                               {"HTTP_HOST", host},
                               {"SERVER_PORT", port},
                               {"SCRIPT_NAME", "/cgi-bin/x.exe"}});
  }

  TComponent FOwner;
  TWSDLHTMLPublish* FPublisher;
};

const char kForbidden[] =
    "<html><head></head><body><h1>Forbidden (403)</h1><P>Access Forbidden</P></body></html>"
    "\r\n";

}  // namespace

TEST_F(WSDLPublish, BaseURL) {
  const struct {
    const char* host;
    const char* port;
    bool secure;
    const char* url;
  } kCases[] = {
      {"h", "8080", false, "http://h:8080/cgi-bin/x.exe"},
      {"h", "80", false, "http://h/cgi-bin/x.exe"},
      {"h:8080", "8080", false, "http://h:8080/cgi-bin/x.exe"},
      {"h:81", "80", false, "http://h:81/cgi-bin/x.exe"},
      {"h", "443", false, "https://h/cgi-bin/x.exe"},
      {"h:8443", "443", false, "https://h:8443/cgi-bin/x.exe"},
      {"h", "8080", true, "https://h/cgi-bin/x.exe"},
      {"h", "", false, "http://h/cgi-bin/x.exe"},
  };
  for (const auto& c : kCases) {
    FPublisher->SetPublishOptions(c.secure ? TWSDLPublishOptions{poPublishLocationAsSecure}
                                           : TWSDLPublishOptions{});
    TFakeChannel channel;
    channel.Env = {
        {"HTTP_HOST", c.host}, {"SERVER_PORT", c.port}, {"SCRIPT_NAME", "/cgi-bin/x.exe"}};
    TCGIRequest request(channel);
    EXPECT_EQ(c.url, FPublisher->BaseURL(request)) << c.host << " " << c.port;
  }
}

TEST_F(WSDLPublish, ListingWithTheExampleFirstAndThePublisherLast) {
  for (const char* path : {"/wsdl", "/wsdl/"}) {
    TAnswer a = Get(path);
    EXPECT_EQ(200, a.Status);
    EXPECT_EQ("text/html", a.ContentType);
    ASSERT_EQ(0u, a.Body.find("<html><head><title>prog</title></head><style type=\"text/css\">"
                              "<!--\r\n"));
    EXPECT_NE(std::string::npos,
              a.Body.find("--></style>\r\n<body><table class=\"MainBkgnd\" border=0 "
                          "cellpadding=0 cellspacing=0 width=\"100%\"><tr><td>&nbsp;</td></tr>"
                          "<tr><td class=\"h1Style\" align=\"center\">prog - WebService "
                          "Listing</td></tr></table>\r\n<center><br>\r\n"));
    std::string rest = a.Body.substr(a.Body.find("<center><br>"));
    EXPECT_EQ(
        "<center><br>\r\n<table border=1 cellspacing=1 cellpadding=2 >\r\n<tr>\r\n"
        "<td class=\"TblHdr\">Port Type</td>\r\n<td class=\"TblHdr\">Namespace URI</td>\r\n"
        "<td class=\"TblHdr\">Documentation</td>\r\n<td class=\"TblHdr\">WSDL</td>\r\n"
        "</tr>\r\n<tr>\r\n<td class=\"TblRow\">ISoapTest</td>\r\n"
        "<td class=\"TblRow\">urn:SoapTestIntf-ISoapTest</td>\r\n"
        "<td class=\"TblRow\">&nbsp;</td>\r\n"
        "<td class=\"TblRow\"><a href=\"http://h:8080/cgi-bin/x.exe/wsdl/ISoapTest\">ISoapTest"
        "</a></td>\r\n</tr>\r\n<tr>\r\n<td class=\"TblRow\">IWSDLPublish</td>\r\n",
        rest.substr(0, rest.find("<td class=\"TblRow\">IWSDLPublish</td>\r\n") + 38))
        << path;
    EXPECT_EQ("</tr>\r\n</table>\r\n</center>\r\n</body></html>\r\n",
              a.Body.substr(a.Body.size() - 44));
  }
}

TEST_F(WSDLPublish, AnswersByPath) {
  const struct {
    const char* path;
    int status;
    const char* type;
    std::string body;
  } kCases[] = {
      {"/wsdl/admin", 403, "text/html", kForbidden},
      {"/wsdl/admin/", 403, "text/html", kForbidden},
      {"/wsdl/admin/ISoapTest", 403, "text/html", kForbidden},
      {"/wsdl/x/admin", 403, "text/html", kForbidden},
      {"/wsdl/Nothing", 200, "text/html",
       "<html><head></head><body><h1>Error Encountered</h1><P>Interface Nothing not found"
       "</P></body></html>\r\n"},
      {"/wsdl/isoaptest", 200, "text/html",
       "<html><head></head><body><h1>Error Encountered</h1><P>Interface isoaptest not found"
       "</P></body></html>\r\n"},
      {"/wsdl/<script>&", 200, "text/html",
       "<html><head></head><body><h1>Error Encountered</h1><P>Interface &lt;script&gt;&amp; "
       "not found</P></body></html>\r\n"},
      {"/WSDL", 200, "", ""},
      {"/wsdlx", 200, "", ""},
      {"/wsdl/ISoapTest/more", 200, "", ""},
  };
  for (const auto& c : kCases) {
    TAnswer a = Get(c.path);
    EXPECT_TRUE(a.Handled);
    EXPECT_EQ(c.status, a.Status) << c.path;
    EXPECT_EQ(c.type, a.ContentType) << c.path;
    EXPECT_EQ(c.body, a.Body) << c.path;
  }
  EXPECT_EQ("Status: 200 OK\r\nContent:\r\n\r\n", Get("/wsdlx").Output);
}

TEST_F(WSDLPublish, WsdlOfTheExample) {
  TAnswer a = Get("/wsdl/ISoapTest/", "h:81", "80");
  EXPECT_EQ(200, a.Status);
  EXPECT_EQ("text/xml", a.ContentType);
  TXPath x(a.Body);
  ASSERT_TRUE(x.WellFormed()) << a.Body;
  EXPECT_EQ("urn:test-target", x.String("/w:definitions/@targetNamespace"));
  EXPECT_EQ(4, x.Count("/w:definitions/w:portType[@name='ISoapTest']/w:operation"));
  for (const char* op : {"echoEnum", "echoDoubleArray", "echoMyEmployee", "echoDouble"}) {
    std::string o = op;
    std::string p = "/w:definitions/w:portType/w:operation[@name='" + o + "']";
    EXPECT_EQ("tns:" + o + "Request", x.String(p + "/w:input/@message"));
    EXPECT_EQ("tns:" + o + "Response", x.String(p + "/w:output/@message"));
    EXPECT_EQ("Value", x.String("/w:definitions/w:message[@name='" + o + "Request']/w:part/@name"));
    EXPECT_EQ("return",
              x.String("/w:definitions/w:message[@name='" + o + "Response']/w:part/@name"));
    std::string b = "/w:definitions/w:binding/w:operation[@name='" + o + "']";
    EXPECT_EQ("urn:SoapTestIntf-ISoapTest#" + o, x.String(b + "/ws:operation/@soapAction"));
    for (const char* dir : {"/w:input", "/w:output"}) {
      EXPECT_EQ("encoded", x.String(b + dir + "/ws:body/@use"));
      EXPECT_EQ("urn:SoapTestIntf-ISoapTest", x.String(b + dir + "/ws:body/@namespace"));
      EXPECT_EQ("http://schemas.xmlsoap.org/soap/encoding/",
                x.String(b + dir + "/ws:body/@encodingStyle"));
    }
  }
  EXPECT_EQ("rpc", x.String("/w:definitions/w:binding/ws:binding/@style"));
  EXPECT_EQ(4, x.Count("//xs:simpleType[@name='TEnumTest']//xs:enumeration"));
  EXPECT_EQ(1, x.Count("//xs:complexType[@name='TDoubleArray']"));
  EXPECT_EQ(3, x.Count("//xs:complexType[@name='TMyEmployee']//xs:element"));
  EXPECT_EQ(1, x.Count("/w:definitions/w:service/w:port"));
  EXPECT_EQ("ISoapTestPort", x.String("/w:definitions/w:service/w:port/@name"));
  EXPECT_EQ("http://h:81/cgi-bin/x.exe/soap/ISoapTest",
            x.String("/w:definitions/w:service/w:port/ws:address/@location"));
}

TEST_F(WSDLPublish, PortTableFileReplacesTheDefaultPort) {
  char dir[] = "/tmp/wsdlpubXXXXXX";
  ASSERT_NE(nullptr, mkdtemp(dir));
  std::string ini = std::string(dir) + "/prog_WSDLADMIN.INI";
  std::ofstream(ini) << "[IOther]\r\nOtherPort=http://o/\r\n[isoaptest]\r\n"
                        "Main=http://a.example/s\r\n; a comment\r\nSpare = http://b.example/s\r\n";
  FPublisher->SetModulePath(std::string(dir) + "/prog.exe");
  TXPath x(Get("/wsdl/ISoapTest").Body);
  EXPECT_EQ(2, x.Count("//w:service/w:port"));
  EXPECT_EQ("http://a.example/s", x.String("//w:port[@name='Main']/ws:address/@location"));
  EXPECT_EQ("http://b.example/s", x.String("//w:port[@name='Spare']/ws:address/@location"));
  // The listing is named after the program without its extension.
  EXPECT_EQ(0u, Get("/wsdl").Body.find("<html><head><title>prog</title>"));
  std::remove(ini.c_str());
  rmdir(dir);
}

TEST_F(WSDLPublish, HostHeaderCannotBreakThePages) {
  TAnswer listing = Get("/wsdl", "h\"><script>", "80");
  EXPECT_EQ(std::string::npos, listing.Body.find("<script>"));
  EXPECT_NE(std::string::npos, listing.Body.find("href=\"http://h&quot;&gt;&lt;script&gt;"));
  EXPECT_TRUE(TXPath(Get("/wsdl/ISoapTest", "h\"<&", "80").Body).WellFormed());
}

TEST_F(WSDLPublish, RoutingSettings) {
  EXPECT_EQ(mtAny, FPublisher->MethodType());
  EXPECT_TRUE(FPublisher->Enabled());
  for (const char* path : {"/wsdl", "/WSDL", "/wsdlx", "/wsdl/ISoapTest"})
    EXPECT_TRUE(FPublisher->PathMask().Matches(path)) << path;
  EXPECT_FALSE(FPublisher->PathMask().Matches("/soap/wsdl"));
}

TEST(WSDLPublishList, OnlyInterfacesWithAClassThePublisherLast) {
  RegisterSoapTest();
  RegisterWSDLPublish();
  static const TSoapInterface kLate{"ILate", "LateIntf", "", {}};
  static const TSoapInterface kNoClass{"INoClass", "LateIntf", "", {}};
  TInvocationRegistry registry;
  registry.RegisterInterface(IWSDLPublishInterface(), "urn:p");
  registry.RegisterInterface(kNoClass);
  registry.RegisterInterface(kLate);
  registry.RegisterInterface(kLate, "urn:ignored");
  registry.RegisterInvokableClass({"TPublish", {&IWSDLPublishInterface()}, nullptr});
  registry.RegisterInvokableClass({"TLate", {&kLate}, nullptr});
  registry.RegisterInvokableClass({"TLate2", {&kLate, &kNoClass}, nullptr});
  std::vector<std::string> names;
  for (const auto* e : PublishedInterfaces(registry)) names.push_back(e->Intf->Name);
  EXPECT_EQ((std::vector<std::string>{"INoClass", "ILate", "IWSDLPublish"}), names);
  EXPECT_EQ("urn:LateIntf-ILate", registry.Find(kLate)->Namespace);
  EXPECT_EQ("TLate", registry.ClassFor(kLate)->Name);
  EXPECT_EQ("TLate2", registry.ClassFor(kNoClass)->Name);
}

namespace {

// A publisher whose port lookup fails, as reading a broken port table would.
class TFailingPublish : public TWSDLHTMLPublish {
 public:
  using TWSDLHTMLPublish::TWSDLHTMLPublish;
  std::function<void()> Fail;
  std::vector<TWSDLPort> Ports(const std::string&, const std::string&) const override {
    Fail();
    return {};
  }
};

}  // namespace

TEST(WSDLPublishErrors, FailuresBecomeAnErrorPage) {
  RegisterSoapTest();
  TFailingPublish publisher;
  const struct {
    std::function<void()> fail;
    const char* heading;
  } kCases[] = {
      {[] { throw EConvertError("'<x>' is not a valid integer value"); },
       "<h1>Error: '&lt;x&gt;' is not a valid integer value/EConvertError</h1></body></html>"},
      {[] { throw 42; }, "<h1>Unknown Error</h1></body></html>"},
  };
  for (const auto& c : kCases) {
    publisher.Fail = c.fail;
    TAnswer a = Serve(publisher, {{"REQUEST_METHOD", "GET"},
                                  {"PATH_INFO", "/wsdl/ISoapTest"},
                                  {"HTTP_HOST", "h"},
                                  {"SERVER_PORT", "80"}});
    EXPECT_TRUE(a.Handled);
    EXPECT_EQ("text/html", a.ContentType);
    EXPECT_EQ(0u, a.Body.find("<html><head></head><style type=\"text/css\"><!--\r\n"));
    EXPECT_NE(std::string::npos, a.Body.find("--></style>\r\n<body><h1>"));
    EXPECT_EQ(c.heading, a.Body.substr(a.Body.rfind("<h1>"))) << c.heading;
  }
}
