#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cgi/CGIHTTP.h"
#include "cgi/HTTPApp.h"
#include "cgi/Masks.h"
#include "tests/cgi/FakeChannel.h"
#include "tests/support/ExpectThrow.h"

namespace {

// A component that serves the paths of its WebDispatch and logs its calls.
class TProbeDispatch : public TComponent, public IWebAutoDispatch {
 public:
  TProbeDispatch(TComponent* owner, const std::string& name, std::vector<std::string>& log)
      : TComponent(owner), FWebDispatch(this), FLog(log) {
    SetName(name);
  }
  TWebDispatch& WebDispatch() { return FWebDispatch; }
  bool Take = true;

  bool Enabled() override { return true; }
  TMethodType MethodType() override { return FWebDispatch.MethodType(); }
  bool TakeRequest(TComponent*, TWebRequest*, TWebResponse*) override {
    FLog.push_back(Name());
    return Take;
  }
  TMask& PathMask() override { return FWebDispatch.Mask(); }

 private:
  TWebDispatch FWebDispatch;
  std::vector<std::string>& FLog;
};

class RouteTest : public ::testing::Test {
 protected:
  RouteTest() {
    channel.Env["SERVER_PROTOCOL"] = "HTTP/1.1";
    soap = new TProbeDispatch(&module, "HTTPSoapDispatcher1", log);
    soap->WebDispatch().SetPathInfo("soap*");
    wsdl = new TProbeDispatch(&module, "WSDLHTMLPublish1", log);
    wsdl->WebDispatch().SetPathInfo("wsdl*");
    wsdl->WebDispatch().SetMethodType(mtAny);
    def = AddItem("DefaultHandler", "/", true);
  }

  TWebActionItem* AddItem(const std::string& name, const std::string& path, bool isDefault,
                          bool handles = true) {
    TWebActionItem* item = module.Actions().Add();
    item->SetName(name);
    item->SetPathInfo(path);
    item->SetDefault(isDefault);
    item->SetOnAction(
        [this, name, handles](TComponent* sender, TWebRequest*, TWebResponse*, bool& handled) {
          log.push_back(name + (sender->Name() == name ? "" : "?"));
          if (!handles) handled = false;
        });
    return item;
  }

  bool Route(const std::string& method, const std::string& path) {
    channel.Env["REQUEST_METHOD"] = method;
    channel.Env["PATH_INFO"] = path;
    request = std::make_unique<TCGIRequest>(channel);
    response = std::make_unique<TCGIResponse>(request.get());
    return module.RouteRequest(request.get(), response.get());
  }

  TFakeChannel channel;
  std::vector<std::string> log;
  TCustomWebDispatcher module;
  TProbeDispatch* soap;
  TProbeDispatch* wsdl;
  TWebActionItem* def;
  std::unique_ptr<TCGIRequest> request;
  std::unique_ptr<TCGIResponse> response;
};

TEST_F(RouteTest, WhoServesWhat) {
  const struct {
    const char* method;
    const char* path;
    std::vector<std::string> log;
  } kCases[] = {
      {"GET", "/", {"DefaultHandler"}},
      {"GET", "", {"DefaultHandler"}},
      {"GET", "/soap", {"DefaultHandler"}},
      {"POST", "/soap", {"HTTPSoapDispatcher1"}},
      {"POST", "/SOAP/ISoapTest", {"HTTPSoapDispatcher1"}},
      {"GET", "/WSDL", {"WSDLHTMLPublish1"}},
      {"POST", "/wsdl/ISoapTest", {"WSDLHTMLPublish1"}},
      {"HEAD", "/wsdlx", {"WSDLHTMLPublish1"}},
      {"POST", "/x/soap", {"DefaultHandler"}},
  };
  for (const auto& c : kCases) {
    log.clear();
    EXPECT_TRUE(Route(c.method, c.path)) << c.method << " " << c.path;
    EXPECT_EQ(c.log, log) << c.method << " " << c.path;
  }
}

TEST_F(RouteTest, ItemsInOrderThenComponentsThenDefault) {
  AddItem("Other", "/other", false, false);
  soap->Take = false;
  EXPECT_TRUE(Route("POST", "/other"));
  EXPECT_EQ((std::vector<std::string>{"Other", "DefaultHandler"}), log);
  log.clear();
  EXPECT_TRUE(Route("POST", "/soap"));
  EXPECT_EQ((std::vector<std::string>{"HTTPSoapDispatcher1", "DefaultHandler"}), log);
}

TEST_F(RouteTest, DefaultThatDeclinesRunsTwiceAndReportsUnhandled) {
  def->SetOnAction([this](TComponent*, TWebRequest*, TWebResponse*, bool& handled) {
    log.push_back("declined");
    handled = false;
  });
  EXPECT_FALSE(Route("GET", "/"));
  EXPECT_EQ((std::vector<std::string>{"declined", "declined"}), log);
  EXPECT_FALSE(response->AlreadySent());
}

TEST_F(RouteTest, DisabledOrWrongMethodDefaultStillServesAsDefault) {
  def->SetEnabled(false);
  EXPECT_TRUE(Route("GET", "/"));
  def->SetEnabled(true);
  def->SetMethodType(mtPut);
  EXPECT_TRUE(Route("GET", "/"));
  EXPECT_EQ((std::vector<std::string>{"DefaultHandler", "DefaultHandler"}), log);
}

TEST_F(RouteTest, NothingHandlesWithoutADefault) {
  def->SetDefault(false);
  EXPECT_FALSE(Route("GET", "/nothing"));
  EXPECT_TRUE(log.empty());
}

TEST_F(RouteTest, OnlyOneDefault) {
  TWebActionItem* other = AddItem("Other", "/o", true);
  EXPECT_TRUE(other->Default());
  EXPECT_FALSE(def->Default());
  EXPECT_EQ(other, module.Actions().DefaultItem());
}

TEST_F(RouteTest, BeforeDispatchThatSendsStopsRouting) {
  bool afterCalled = false;
  module.BeforeDispatch = [](TComponent*, TWebRequest*, TWebResponse* r, bool&) { r->Send(); };
  module.AfterDispatch = [&](TComponent*, TWebRequest*, TWebResponse*, bool&) {
    afterCalled = true;
  };
  EXPECT_TRUE(Route("GET", "/"));
  EXPECT_TRUE(log.empty());
  EXPECT_FALSE(afterCalled);
}

TEST_F(RouteTest, AfterDispatchDecidesTheResult) {
  module.AfterDispatch = [](TComponent*, TWebRequest*, TWebResponse*, bool& handled) {
    EXPECT_TRUE(handled);
    handled = false;
  };
  EXPECT_FALSE(Route("GET", "/"));
}

TEST_F(RouteTest, DestroyedComponentLeavesTheList) {
  delete soap;
  EXPECT_EQ(1u, module.AutoDispatchList().size());
  EXPECT_TRUE(Route("POST", "/soap"));
  EXPECT_EQ((std::vector<std::string>{"DefaultHandler"}), log);
}

TEST(ActionItem, DuplicateNameInAnyCase) {
  TWebActionItems items;
  items.Add()->SetName("DefaultHandler");
  TWebActionItem* second = items.Add();
  EXPECT_TRUE(ThrowsExactly<EWebBrokerException>([&] { second->SetName("defaulthandler"); },
                                                 "EWebBrokerException: Duplicate action name"));
  items.Items(0)->SetName("DEFAULTHANDLER");  // its own name in another case
  EXPECT_EQ("DEFAULTHANDLER", items.Items(0)->Name());
}

TEST(ActionItem, PatternIsNormalised) {
  TWebActionItems items;
  TWebActionItem* item = items.Add();
  item->SetPathInfo("a\\b*");
  EXPECT_EQ("/a/b*", item->PathInfo());
  item->SetPathInfo("/A/B*");  // differs only in case: kept as it was
  EXPECT_EQ("/a/b*", item->PathInfo());
  TComponent producer;
  producer.SetName("Page");
  item->SetProducer(&producer, [] { return std::string("produced"); });
  item->SetPathInfo("Page");
  EXPECT_EQ("/Page", item->PathInfo());
}

TEST(WebDispatchSettings, EmptyPathMeansTheOwnersName) {
  TComponent owner;
  owner.SetName("Comp");
  TWebDispatch d(&owner);
  EXPECT_EQ(mtPost, d.MethodType());
  EXPECT_TRUE(d.Mask().Matches("/comp"));
  d.SetPathInfo("Comp");
  EXPECT_EQ("Comp", d.PathInfo());
  d.SetPathInfo("x\\y");
  EXPECT_TRUE(d.Mask().Matches("/X/Y"));
  EXPECT_FALSE(d.Mask().Matches("/comp"));
}

// The error page answers the request whose routing raised.
class ErrorPageTest : public RouteTest {
 protected:
  void FailRoute(const std::string& method, const std::string& path) {
    def->SetOnAction(
        [](TComponent*, TWebRequest*, TWebResponse*, bool&) { throw Exception("routing failed"); });
    EXPECT_THROW(Route(method, path), Exception);
  }
};

// A kept module holds no request once routing has ended: a later error finds
// none to answer (the request and response may be gone).
TEST_F(ErrorPageTest, NothingKeptAfterRouting) {
  Route("GET", "/");
  EXPECT_EQ(nullptr, module.Request());
  FailRoute("GET", "/");
  EXPECT_EQ(request.get(), module.Request());
  bool handled = false;
  module.HandleError(Exception("boom"), handled);
  EXPECT_EQ(nullptr, module.Request());
  EXPECT_EQ(nullptr, module.Response());
  channel.Output.clear();
  module.HandleError(Exception("later"), handled);
  EXPECT_EQ("", channel.Output);
}

TEST_F(ErrorPageTest, EscapedMessageAndPathWithExactLength) {
  FailRoute("GET", "/<b>&");
  channel.Output.clear();
  response->SetContentType("text/xml");
  bool handled = false;
  module.HandleError(Exception("bad <x> & y"), handled);
  EXPECT_TRUE(handled);
  const std::string page =
      "<html><body><h1>Internal Application Error</h1>\r\n<p>bad &lt;x&gt; &amp; y\r\n"
      "<p><hr width=\"100%\"><i>/&lt;b&gt;&amp;</i></body></html>";
  EXPECT_EQ("Status: 500 Internal Server Error\r\nContent-Type: text/xml\r\nContent-Length: " +
                std::to_string(page.size()) + "\r\nContent:\r\n\r\n" + page,
            channel.Output);
}

TEST_F(ErrorPageTest, PlainPageIs95BytesPlusMessage) {
  FailRoute("GET", "");
  bool handled = false;
  module.HandleError(Exception("boom"), handled);
  EXPECT_EQ(95u + 4u, response->Content().size());
}

TEST_F(ErrorPageTest, OnExceptionTakesOver) {
  module.OnException = [](TComponent*, const Exception& e, bool&) {
    EXPECT_EQ("boom", e.Message());
  };
  FailRoute("GET", "/");
  channel.Output.clear();
  bool handled = false;
  module.HandleError(Exception("boom"), handled);
  EXPECT_TRUE(handled);
  EXPECT_EQ("Status: 500 Internal Server Error\r\nContent-Type: text/html\r\nContent:\r\n\r\n",
            channel.Output);
}

}  // namespace
