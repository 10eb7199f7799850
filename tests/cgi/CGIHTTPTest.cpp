#include "cgi/CGIHTTP.h"

#include <gtest/gtest.h>

#include "tests/cgi/FakeChannel.h"

namespace {

class CGIRequestTest : public ::testing::Test {
 protected:
  TFakeChannel channel;
};

TEST_F(CGIRequestTest, MethodTypeIgnoresCase) {
  const struct {
    const char* method;
    TMethodType type;
  } kCases[] = {{"GET", mtGet},   {"get", mtGet},    {"Put", mtPut}, {"POST", mtPost},
                {"head", mtHead}, {"DELETE", mtAny}, {"", mtAny},    {"GETX", mtAny}};
  for (const auto& c : kCases) {
    channel.Env["REQUEST_METHOD"] = c.method;
    TCGIRequest request(channel);
    EXPECT_EQ(c.type, request.MethodType()) << c.method;
  }
}

TEST_F(CGIRequestTest, EnvironmentFieldFallsBackBetweenPlainAndHttpNames) {
  channel.Env = {{"CONTENT_TYPE", "text/xml"},
                 {"HTTP_REQUEST_METHOD", "POST"},
                 {"HTTP_HOST", "h"},
                 {"HOST", "plain"},
                 {"PATH_INFO", ""},
                 {"HTTP_PATH_INFO", "/x"}};
  TCGIRequest request(channel);
  EXPECT_EQ("text/xml", request.ContentType());
  EXPECT_EQ(mtPost, request.MethodType());
  EXPECT_EQ("h", request.Host());
  EXPECT_EQ("/x", request.PathInfo());  // set but empty counts as absent
  EXPECT_EQ("", request.StringVariable(TWebRequest::kReferer));
}

TEST_F(CGIRequestTest, IntegerVariable) {
  const struct {
    const char* text;
    int32_t value;
  } kCases[] = {{"", -1},          {"12", 12},  {"  7", 7}, {"7 ", -1},  {"$1F", 31},
                {"0x1f", 31},      {"X10", 16}, {"-5", -5}, {"12a", -1}, {"2147483647", 2147483647},
                {"2147483648", -1}};
  for (const auto& c : kCases) {
    channel.Env["CONTENT_LENGTH"] = c.text;
    channel.Env["SERVER_PORT"] = c.text;
    TCGIRequest request(channel);
    EXPECT_EQ(c.value, request.IntegerVariable(TWebRequest::kServerPort)) << c.text;
  }
}

TEST_F(CGIRequestTest, BodyIsReadUpToContentLengthInPieces) {
  channel.Input = std::string(100000, 'x') + "tail";
  channel.ReadLimit = 4096;
  channel.Env["CONTENT_LENGTH"] = "100002";
  TCGIRequest request(channel);
  EXPECT_EQ(std::string(100000, 'x') + "ta", request.Content());
}

TEST_F(CGIRequestTest, ShortBodyAndForgedLengthCostOnlyWhatArrives) {
  channel.Input = "a=1";
  channel.Env["CONTENT_LENGTH"] = "16777216";
  TCGIRequest request(channel);
  EXPECT_EQ("a=1", request.Content());
  EXPECT_LE(channel.LargestRead, 64u * 1024u);
  EXPECT_EQ("a=1\r\n", request.ContentFieldList().Text());
}

TEST_F(CGIRequestTest, LengthOverTheLimitReadsNothing) {
  channel.Input = "a=1";
  channel.Env["CONTENT_LENGTH"] = "16777217";
  TCGIRequest request(channel);
  EXPECT_EQ("16777217", request.RefusedContentLength());
  EXPECT_EQ("", request.Content());
  EXPECT_EQ(0, request.ContentFieldList().Count());
  EXPECT_EQ(0u, channel.Reads);
}

TEST_F(CGIRequestTest, FailedReadEndsTheBodyWithWhatArrived) {
  channel.Input = "a=1&b";
  channel.FailAtEnd = true;
  channel.Env["CONTENT_LENGTH"] = "40";
  TCGIRequest request(channel);
  EXPECT_EQ("a=1&b", request.Content());
  EXPECT_EQ("a=1\r\nb\r\n", request.ContentFieldList().Text());
}

TEST_F(CGIRequestTest, NoOrBadContentLengthReadsNothing) {
  for (const char* length : {"", "0", "-3", "12 ", "abc"}) {
    TFakeChannel ch;
    ch.Input = "a=1";
    ch.Env["CONTENT_LENGTH"] = length;
    TCGIRequest request(ch);
    EXPECT_EQ("", request.Content()) << length;
    EXPECT_EQ(0, request.ContentFieldList().Count()) << length;
    EXPECT_EQ(0u, ch.Reads) << length;
  }
}

TEST_F(CGIRequestTest, QueryFieldsLookUpByNameFirstMatchAnyCase) {
  channel.Env["QUERY_STRING"] = "Q=get+sprfood&q=second&q2&x=a=b&user=%41";
  TCGIRequest request(channel);
  const TFieldList& fields = request.QueryFieldList();
  EXPECT_EQ(5, fields.Count());
  EXPECT_EQ("get sprfood", fields.Values("q"));
  EXPECT_EQ("", fields.Values("q2"));  // no "=": never matches
  EXPECT_EQ("a=b", fields.Values("x"));
  EXPECT_EQ("A", fields.Values("USER"));
  EXPECT_EQ("Q=get sprfood\r\nq=second\r\nq2\r\nx=a=b\r\nuser=A\r\n", fields.Text());
}

TEST_F(CGIRequestTest, ListThatRaisedKeepsItsFirstFields) {
  channel.Env["QUERY_STRING"] = "a=1&b=%zz&c=3";
  TCGIRequest request(channel);
  EXPECT_THROW(request.QueryFieldList(), EConvertError);
  EXPECT_EQ((std::vector<std::string>{"a=1"}), request.QueryFieldList().Lines());
}

TEST_F(CGIRequestTest, MapUriToPath) {
  channel.Env = {{"PATH_TRANSLATED", "/srv/www/soap/x"}, {"PATH_INFO", "/soap/x"}};
  TCGIRequest request(channel);
  EXPECT_EQ("/srv/www/img.png", request.MapUriToPath("/img.png"));
  channel.Env["PATH_INFO"] = "/other";
  TCGIRequest other(channel);
  EXPECT_EQ("/img.png", other.MapUriToPath("/img.png"));
}

class CGIResponseTest : public ::testing::Test {
 protected:
  CGIResponseTest() { channel.Env["SERVER_PROTOCOL"] = "HTTP/1.1"; }
  TFakeChannel channel;
};

TEST_F(CGIResponseTest, WorkedExample) {
  TCGIRequest request(channel);
  TCGIResponse response(&request);
  response.SetContentType("text/xml");
  response.SetContent("ok");
  response.Send();
  EXPECT_EQ("Status: 200 OK\r\nContent-Type: text/xml\r\nContent-Length: 2\r\nContent:\r\n\r\nok",
            channel.Output);
  EXPECT_TRUE(response.AlreadySent());
}

TEST_F(CGIResponseTest, EveryHeaderInItsPlace) {
  TCGIRequest request(channel);
  TCGIResponse response(&request);
  response.SetStatusCode(404);
  response.SetLocation("/l");
  response.SetStringItem(TWebResponse::kAllow, "GET");
  response.Cookies().push_back({"a b", "1;", "", "/", -1.0, true});
  response.SetStringItem(TWebResponse::kDerivedFrom, "d");
  response.SetDateItem(TWebResponse::kExpires, 36526.5);  // 2000-01-01 12:00
  response.SetDateItem(TWebResponse::kLastModified, 2.0);
  response.SetStringItem(TWebResponse::kTitle, "t");
  response.SetStringItem(TWebResponse::kWwwAuthenticate, "Basic");
  response.SetStringItem(TWebResponse::kRealm, "r");
  response.CustomHeaders().Add("X-A=1");
  response.CustomHeaders().Add("X-B=");
  response.SetStringItem(TWebResponse::kContentVersion, "v");
  response.SetStringItem(TWebResponse::kContentEncoding, "gzip");
  response.SetStringItem(TWebResponse::kServer, "not written");
  response.SetContent("body");
  response.Send();
  EXPECT_EQ(
      "Status: 404 Not Found\r\nLocation: /l\r\nAllow: GET\r\n"
      "Set-Cookie: a+b=1%3B; path=/; secure\r\nDerived-From: d\r\n"
      "Expires: Sat, 01 Jan 2000 12:00:00 GMT\r\n"
      "Last-Modified: Mon, 01 Jan 1900 00:00:00 GMT\r\nTitle: t\r\n"
      "WWW-Authenticate: Basic Realm=r\r\nX-A: 1\r\nX-B: \r\nContent-Version: v\r\n"
      "Content-Encoding: gzip\r\nContent-Type: text/html\r\nContent-Length: 4\r\n"
      "Content:\r\n\r\nbody",
      channel.Output);
}

TEST_F(CGIResponseTest, EmptyContentAndEmptyContentType) {
  TCGIRequest request(channel);
  TCGIResponse response(&request);
  response.SetContentType("");
  response.Send();
  EXPECT_EQ("Status: 200 OK\r\nContent:\r\n\r\n", channel.Output);
}

TEST_F(CGIResponseTest, WithoutServerProtocolOnlyTheBody) {
  channel.Env.clear();
  TCGIRequest request(channel);
  TCGIResponse response(&request);
  EXPECT_EQ("1.0", response.StringItem(TWebResponse::kVersion));
  response.SetContent("x\r\ny");
  response.Send();
  EXPECT_EQ("x\r\ny", channel.Output);
}

TEST_F(CGIResponseTest, StatusTextFromTheTable) {
  const struct {
    int code;
    const char* line;
  } kCases[] = {{500, "Status: 500 Internal Server Error"},
                {412, "Status: 412 Unless True"},
                {413, "Status: 413 Request Entity Too Large"},
                {406, "Status: 406 None Acceptable"},
                {302, "Status: 302 Moved Temporarily"},
                {299, "Status: 200 OK"},
                {0, "Status: 200 OK"}};
  for (const auto& c : kCases) {
    TFakeChannel ch;
    ch.Env["SERVER_PROTOCOL"] = "HTTP/1.0";
    TCGIRequest request(ch);
    TCGIResponse response(&request);
    response.SetStatusCode(c.code);
    response.Send();
    EXPECT_EQ(std::string(c.line) + "\r\n", ch.Output.substr(0, ch.Output.find('\n') + 1))
        << c.code;
  }
}

TEST_F(CGIResponseTest, SameStatusKeepsAnExplicitReason) {
  TCGIRequest request(channel);
  TCGIResponse response(&request);
  response.SetReasonText("Fine");
  response.SetStatusCode(200);
  EXPECT_EQ("Fine", response.ReasonText());
  response.SetStatusCode(201);
  EXPECT_EQ("Created", response.ReasonText());
}

TEST_F(CGIResponseTest, StreamReplacesContent) {
  TCGIRequest request(channel);
  TCGIResponse response(&request);
  response.SetContentStream(std::make_unique<TStringStream>(std::string(20000, 's')));
  response.SetContent("ignored");
  EXPECT_EQ(20000, response.ContentLength());
  response.Send();
  EXPECT_EQ(std::string("Status: 200 OK\r\nContent-Type: text/html\r\nContent-Length: 20000\r\n"
                        "Content:\r\n\r\n") +
                std::string(20000, 's'),
            channel.Output);
  EXPECT_EQ(nullptr, response.ContentStream());
  EXPECT_EQ(7, response.ContentLength());
}

}  // namespace
