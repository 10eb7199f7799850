#include <gtest/gtest.h>

#include <string>

#include "cgi/CGIApp.h"
#include "service/Unit1.h"
#include "tests/cgi/FakeChannel.h"

namespace {

const std::string kHead = "Status: 200 OK\r\nContent-Type: text/html\r\n";

// Serves one request with the service module; returns what the program writes.
std::string Serve(const std::string& method, const std::string& query, const std::string& body = "",
                  const std::string& pathInfo = "") {
  TFakeChannel channel;
  channel.Env = {{"SERVER_PROTOCOL", "HTTP/1.1"},
                 {"REQUEST_METHOD", method},
                 {"QUERY_STRING", query},
                 {"PATH_INFO", pathInfo}};
  if (!body.empty()) channel.Env["CONTENT_LENGTH"] = std::to_string(body.size());
  channel.Input = body;
  {
    TCGIApplication app(channel);
    app.RegisterModuleClass(WebModuleClass<TDorvanaWebInterface>("TDorvanaWebInterface"));
    app.Run();
  }
  return channel.Output;
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

}  // namespace
