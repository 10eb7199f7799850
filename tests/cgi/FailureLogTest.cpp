// The failure log: one line for every answer that reports a failure, routed
// through the request, the answer itself untouched.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cgi/CGIApp.h"
#include "cgi/CGIHTTP.h"
#include "cgi/HTTPApp.h"
#include "runtime/Exception.h"
#include "tests/cgi/FakeChannel.h"

namespace {

TEST(FailureLog, LineText) {
  const std::string longMessage(1500, 'm');
  const struct {
    const char* addr;
    const char* guid;
    std::string message;
    std::string text;
  } kCases[] = {
      {"10.0.0.7", "", "Cannot convert value to bool",
       "failure from 10.0.0.7: Cannot convert value to bool"},
      {"10.0.0.7", "g-1", "x", "failure from 10.0.0.7 order g-1: x"},
      {"", "", "x", "failure from -: x"},
      // A client-library error: the component's name, then the reason on the
      // lines below it.
      {"::1", "g-2", "DorvanaWebInterface.Database:\r\n Unsuccessful.\r\nYour user name.\r\n",
       "failure from ::1 order g-2: DorvanaWebInterface.Database: Unsuccessful. Your user name."},
      {"a", "", "\n\nfirst\rsecond", "failure from a: first second"},
      {"a", "", longMessage, "failure from a: " + std::string(1000, 'm') + "..."},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(c.text, FailureLogText(c.addr, c.guid, c.message)) << c.message;
}

// A request that keeps its failure lines instead of writing them to standard error.
class TRecordingRequest : public TCGIRequest {
 public:
  using TCGIRequest::TCGIRequest;
  std::vector<std::string> Lines;
  void WriteFailureLine(const std::string& command, const std::string& text) override {
    Lines.push_back(command + "|" + text);
  }
};

class FailureLogRoute : public ::testing::Test {
 protected:
  void Serve(const std::string& path, THTTPMethodEvent action) {
    channel.Env["REQUEST_METHOD"] = "GET";
    channel.Env["SERVER_PROTOCOL"] = "HTTP/1.1";
    channel.Env["REMOTE_ADDR"] = "192.0.2.4";
    channel.Env["PATH_INFO"] = path;
    request = std::make_unique<TRecordingRequest>(channel);
    response = std::make_unique<TCGIResponse>(request.get());
    TWebActionItem* item = dispatcher.Actions().Add();
    item->SetName("DefaultHandler");
    item->SetDefault(true);
    item->SetOnAction(std::move(action));
    try {
      dispatcher.HandleRequest(request.get(), response.get());
    } catch (const Exception& e) {
      bool handled = false;
      dispatcher.HandleError(e, handled);
    }
  }
  TFakeChannel channel;
  TCustomWebDispatcher dispatcher;
  std::unique_ptr<TRecordingRequest> request;
  std::unique_ptr<TCGIResponse> response;
};

TEST_F(FailureLogRoute, ASuccessWritesNothing) {
  Serve("/", [](TComponent*, TWebRequest*, TWebResponse* r, bool&) { r->SetContent("ok"); });
  EXPECT_TRUE(request->Lines.empty());
}

TEST_F(FailureLogRoute, TheErrorPageIsLoggedWithCommandAndGuid) {
  Serve("/", [](TComponent*, TWebRequest* q, TWebResponse*, bool&) {
    q->SetLogCommand("addorder");
    q->SetLogGuid("g-7");
    throw Exception("The order has no FOODS element.");
  });
  EXPECT_EQ((std::vector<std::string>{
                "addorder|failure from 192.0.2.4 order g-7: The order has no FOODS element."}),
            request->Lines);
  EXPECT_NE(std::string::npos, channel.Output.find("The order has no FOODS element."));
}

TEST_F(FailureLogRoute, WithoutACommandThePathNamesTheRequest) {
  Serve("/soap/x",
        [](TComponent*, TWebRequest* q, TWebResponse*, bool&) { q->LogFailure("first\nsecond"); });
  EXPECT_EQ((std::vector<std::string>{"/soap/x|failure from 192.0.2.4: first second"}),
            request->Lines);
}

TEST(FailureLogCgi, RefusedBodyIsLoggedAndAnsweredAsBefore) {
  TFakeChannel channel;
  channel.Env["SERVER_PROTOCOL"] = "HTTP/1.1";
  channel.Env["REQUEST_METHOD"] = "POST";
  channel.Env["CONTENT_LENGTH"] = "16777217";
  channel.Env["REMOTE_ADDR"] = "192.0.2.9";
  TCGIApplication application(channel);
  testing::internal::CaptureStderr();
  application.Run();
  const std::string log = testing::internal::GetCapturedStderr();
  EXPECT_NE(std::string::npos,
            log.find(": failure from 192.0.2.9: Request body of 16777217 bytes exceeds the limit"))
      << log;
  const std::string line = "Request body of 16777217 bytes exceeds the limit of 16777216 bytes";
  EXPECT_EQ("Status: 413 Request Entity Too Large\r\nContent-Type: text/plain\r\nContent-Length: " +
                std::to_string(line.size()) + "\r\nContent:\r\n\r\n" + line,
            channel.Output);
}

}  // namespace
