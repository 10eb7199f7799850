#include "cgi/CGIApp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "cgi/CGIHTTP.h"
#include "cgi/HTTPApp.h"
#include "tests/cgi/FakeChannel.h"
#include "tests/support/ExpectThrow.h"

namespace {

// What the probe module's one action does, and what happened to the module.
std::function<void(TWebRequest*, TWebResponse*, bool&)> gAction;
std::vector<std::string> gEvents;
bool gFailForm = false;

// Records its creation and destruction in gEvents.
class TProbePart : public TComponent {
 public:
  explicit TProbePart(TComponent* owner) : TComponent(owner) {}
  ~TProbePart() override { gEvents.push_back("destroy " + Name()); }
  TProbePart* Peer = nullptr;
};

class TProbeModule : public TWebModule {
 public:
  explicit TProbeModule(TComponent* owner) : TWebModule(owner) { ReadForm("TProbeModule"); }
  ~TProbeModule() override {
    DestroyComponents();
    gEvents.push_back("destroy module");
  }
  TProbePart* First = nullptr;
  TProbePart* Second = nullptr;
};

TFormDescription ProbeForm() {
  using M = TProbeModule;
  TFormDescription form;
  form.Properties = [](TComponent* module) {
    module->SetName("ProbeModule");
    TWebActionItem* item = static_cast<M*>(module)->Actions().Add();
    item->SetName("Action");
    item->SetDefault(true);
    item->SetOnAction([](TComponent*, TWebRequest* rq, TWebResponse* rs, bool& handled) {
      if (gAction) gAction(rq, rs, handled);
    });
  };
  form.Components = {
      FormComponent<M, TProbePart>(
          "First", &M::First, [](TProbePart& c) { gEvents.push_back("create " + c.Name()); },
          [](TProbePart& c, M& m) {
            c.Peer = m.Second;  // created after this one
            gEvents.push_back(std::string("link ") + (c.Peer ? c.Peer->Name() : "none"));
          }),
      FormComponent<M, TProbePart>("Second", &M::Second,
                                   [](TProbePart& c) {
                                     gEvents.push_back("create " + c.Name());
                                     if (gFailForm) throw Exception("form broke");
                                   }),
  };
  return form;
}
const bool kProbeForm = RegisterFormDescription("TProbeModule", ProbeForm);

class TNoFormModule : public TWebModule {
 public:
  explicit TNoFormModule(TComponent* owner) : TWebModule(owner) { ReadForm("TNoFormModule"); }
};

class CGIAppTest : public ::testing::Test {
 protected:
  CGIAppTest() {
    (void)kProbeForm;
    gAction = nullptr;
    gEvents.clear();
    channel.Env = {{"SERVER_PROTOCOL", "HTTP/1.1"}, {"REQUEST_METHOD", "GET"}};
  }
  ~CGIAppTest() override {
    gAction = nullptr;
    gFailForm = false;
  }

  std::string Serve(const TWebModuleClass* moduleClass) {
    {
      TCGIApplication app(channel);
      app.Initialize();
      if (moduleClass) app.RegisterModuleClass(*moduleClass);
      app.Run();
      gEvents.push_back("served");
    }
    return channel.Output;
  }

  static std::string ServerError(const std::string& className, const std::string& statusText,
                                 const std::string& message) {
    const std::string page =
        "<html><title>Internal Server Error 500</title>\r\n<h1>Internal Server Error 500</h1>"
        "<hr>\r\nException: " +
        className + "<br>\r\nMessage: " + message + "<br></html>\r\n";
    return "Status: 500 " + statusText +
           "\r\nContent-Type: text/html\r\nContent-Length: " + std::to_string(page.size()) +
           "\r\n\r\n" + page;
  }

  TFakeChannel channel;
  const TWebModuleClass kProbe = WebModuleClass<TProbeModule>("TProbeModule");
};

TEST_F(CGIAppTest, HandledResponseIsSentOnceAfterRouting) {
  gAction = [](TWebRequest*, TWebResponse* r, bool&) { r->SetContent("hi"); };
  EXPECT_EQ("Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 2\r\nContent:\r\n\r\nhi",
            Serve(&kProbe));
}

TEST_F(CGIAppTest, ResponseSentByTheHandlerIsNotSentAgain) {
  gAction = [](TWebRequest*, TWebResponse* r, bool&) {
    r->SetContent("x");
    r->Send();
  };
  const std::string out = Serve(&kProbe);
  EXPECT_EQ(out.find("Status:"), out.rfind("Status:"));
}

TEST_F(CGIAppTest, HandlerThatSentAndThenRaisedIsNotAnsweredTwice) {
  gAction = [](TWebRequest*, TWebResponse* r, bool&) {
    r->SetContent("x");
    r->Send();
    throw Exception("late");
  };
  EXPECT_EQ("Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 1\r\nContent:\r\n\r\nx",
            Serve(&kProbe));
}

TEST_F(CGIAppTest, UnhandledRequestWritesNothing) {
  gAction = [](TWebRequest*, TWebResponse*, bool& handled) { handled = false; };
  EXPECT_EQ("", Serve(&kProbe));
}

TEST_F(CGIAppTest, FormComponentsInOrderLinkedAfterwardsDestroyedAfterTheRequest) {
  gAction = [](TWebRequest*, TWebResponse*, bool&) { gEvents.push_back("handler"); };
  Serve(&kProbe);
  EXPECT_EQ(
      (std::vector<std::string>{"create First", "create Second", "link Second", "handler", "served",
                                "destroy Second", "destroy First", "destroy module"}),
      gEvents);
}

TEST_F(CGIAppTest, HandlerExceptionBecomesTheDispatcherPageUnderItsContentType) {
  gAction = [](TWebRequest*, TWebResponse* r, bool&) {
    r->SetContentType("text/xml");
    throw Exception("DorvanaWebInterface.Database: Cannot perform operation -- DB is not open.");
  };
  const std::string out = Serve(&kProbe);
  const std::string page =
      "<html><body><h1>Internal Application Error</h1>\r\n<p>DorvanaWebInterface.Database: "
      "Cannot perform operation -- DB is not open.\r\n<p><hr width=\"100%\"><i></i></body></html>";
  EXPECT_EQ(95u + 73u, page.size());
  EXPECT_EQ(
      "Status: 500 Internal Server Error\r\nContent-Type: text/xml\r\nContent-Length: 168"
      "\r\nContent:\r\n\r\n" +
          page,
      out);
}

TEST_F(CGIAppTest, DecodingErrorInTheHandlerReachesTheDispatcher) {
  channel.Env["QUERY_STRING"] = "q=%4";
  channel.Env["PATH_INFO"] = "/";
  gAction = [](TWebRequest* rq, TWebResponse*, bool&) { rq->QueryFieldList(); };
  const std::string out = Serve(&kProbe);
  EXPECT_NE(std::string::npos,
            out.find("<p>Error decoding URL style (%XX) encoded string at position 3\r\n"));
  EXPECT_EQ(0u, out.find("Status: 500 Internal Server Error\r\n"));
}

TEST_F(CGIAppTest, NonExceptionFromTheHandlerReachesTheLastResortPage) {
  gAction = [](TWebRequest*, TWebResponse*, bool&) { throw 42; };
  EXPECT_EQ(ServerError("Exception", "", ""), Serve(&kProbe));
}

TEST_F(CGIAppTest, FailuresOutsideRouting) {
  const TWebModuleClass noForm = WebModuleClass<TNoFormModule>("TNoFormModule");
  EXPECT_EQ(ServerError("EResNotFound", "Resource TNoFormModule not found",
                        "Resource TNoFormModule not found"),
            Serve(&noForm));
  channel.Output.clear();
  EXPECT_EQ(ServerError("EWebBrokerException", "No data modules registered",
                        "No data modules registered"),
            Serve(nullptr));
  channel.Output.clear();
  const TWebModuleClass plain{"TPlain", [] { return new TComponent(); }};
  EXPECT_EQ(ServerError("EWebBrokerException", "No dispatcher component found on data module",
                        "No dispatcher component found on data module"),
            Serve(&plain));
}

TEST_F(CGIAppTest, FormThatFailsDestroysWhatItBuilt) {
  gFailForm = true;
  EXPECT_EQ(ServerError("Exception", "form broke", "form broke"), Serve(&kProbe));
  EXPECT_EQ((std::vector<std::string>{"create First", "create Second", "destroy Second",
                                      "destroy First", "served"}),
            gEvents);
}

TEST_F(CGIAppTest, StatusLineCarriesNoControlBytes) {
  TCGIApplication app(channel);
  try {
    throw EWebBrokerException("a\r\nSet-Cookie: x=1\tb\x7f");
  } catch (...) {
    app.WriteServerError(std::current_exception());
  }
  EXPECT_EQ(
      ServerError("EWebBrokerException", "a  Set-Cookie: x=1 b ", "a\r\nSet-Cookie: x=1\tb\x7f"),
      channel.Output);
}

TEST_F(CGIAppTest, OnlyOneModuleClass) {
  TCGIApplication app(channel);
  app.RegisterModuleClass(kProbe);
  app.RegisterModuleClass(kProbe);
  EXPECT_TRUE(ThrowsExactly<Exception>(
      [&] { app.RegisterModuleClass(WebModuleClass<TNoFormModule>("TNoFormModule")); },
      "Exception: Only one data module per application"));
}

TEST_F(CGIAppTest, BodyIsReadBeforeServing) {
  channel.Env["REQUEST_METHOD"] = "POST";
  channel.Env["CONTENT_LENGTH"] = "9";
  channel.Input = "a=1&b=2\r\nextra";
  gAction = [](TWebRequest* rq, TWebResponse* r, bool&) {
    r->SetContent(rq->ContentFieldList().Text());
  };
  const std::string out = Serve(&kProbe);
  EXPECT_EQ("a=1\r\nb=2\r\n", out.substr(out.find("\r\n\r\n") + 4));
}

TEST_F(CGIAppTest, BodyOverTheLimitIsRefusedUnreadAndNothingIsServed) {
  const struct {
    const char* variable;
    const char* length;
    const char* named;  // the length as the answer names it
  } kCases[] = {{"CONTENT_LENGTH", "16777217", "16777217"},
                {"HTTP_CONTENT_LENGTH", "16777217", "16777217"},
                {"CONTENT_LENGTH", "$1000001", "16777217"},
                {"CONTENT_LENGTH", " +99999999999", "99999999999"},
                {"CONTENT_LENGTH", "99999999999999999999999", "more than 18446744073709551615"}};
  for (const auto& c : kCases) {
    TFakeChannel ch;
    ch.Env = {{"SERVER_PROTOCOL", "HTTP/1.1"}, {"REQUEST_METHOD", "POST"}, {c.variable, c.length}};
    ch.Input = "a=1";
    gEvents.clear();
    gAction = [](TWebRequest*, TWebResponse*, bool&) { gEvents.push_back("handler"); };
    {
      TCGIApplication app(ch);
      app.RegisterModuleClass(kProbe);
      app.Run();
    }
    const std::string line =
        std::string("Request body of ") + c.named + " bytes exceeds the limit of 16777216 bytes";
    EXPECT_EQ(
        "Status: 413 Request Entity Too Large\r\nContent-Type: text/plain\r\n"
        "Content-Length: " +
            std::to_string(line.size()) + "\r\nContent:\r\n\r\n" + line,
        ch.Output)
        << c.variable << "=" << c.length;
    EXPECT_EQ(0u, ch.Reads) << c.length;
    EXPECT_TRUE(gEvents.empty()) << c.length;  // no module, no handler
  }
}

TEST_F(CGIAppTest, BodyAtTheLimitIsReadWhole) {
  channel.Env["REQUEST_METHOD"] = "POST";
  channel.Env["CONTENT_LENGTH"] = "16777216";
  channel.Input.assign(16777216 + 5, 'a');
  channel.ReadLimit = 1 << 20;
  gAction = [](TWebRequest* rq, TWebResponse* r, bool&) {
    r->SetContent(std::to_string(rq->Content().size()));
  };
  const std::string out = Serve(&kProbe);
  EXPECT_EQ(
      "Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 8\r\nContent:\r\n\r\n"
      "16777216",
      out);
}

TEST_F(CGIAppTest, ModuleSetIsHeldForTheNextRequestUnlessTurnedOff) {
  for (bool keep : {true, false}) {
    gEvents.clear();
    TCGIApplication app(channel);
    app.RegisterModuleClass(kProbe);
    app.SetKeepModuleSets(keep);
    app.Run();
    app.Run();
    EXPECT_EQ(keep ? 1 : 2, std::count(gEvents.begin(), gEvents.end(), "create First")) << keep;
    EXPECT_EQ(keep ? 1 : 0, app.InactiveCount()) << keep;
  }
}

TEST_F(CGIAppTest, SetLimitRefusesAnotherSetWhileOneIsInUse) {
  TCGIApplication app(channel);
  app.RegisterModuleClass(kProbe);
  app.SetModuleSetLimit(1);
  gAction = [&app](TWebRequest* rq, TWebResponse* rs, bool&) {
    EXPECT_EQ(1, app.ActiveCount());
    app.ServeRequest(rq, rs);
  };
  app.Run();
  EXPECT_NE(std::string::npos,
            channel.Output.find("<p>Maximum number of concurrent connections exceeded.  Please try "
                                "again later\r\n"));
  EXPECT_EQ(0, app.ActiveCount());
}

}  // namespace
