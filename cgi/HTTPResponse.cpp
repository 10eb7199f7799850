#include "cgi/HTTPResponse.h"

#include "cgi/FieldDecoding.h"
#include "cgi/HTTPDates.h"
#include "runtime/Format.h"

std::string TCookie::HeaderValue() const {
  std::string result = Format("%s=%s; ", {HTTPEncode(Name), HTTPEncode(Value)});
  if (!Domain.empty()) result += Format("domain=%s; ", {Domain});
  if (!Path.empty()) result += Format("path=%s; ", {Path});
  if (Expires > -1.0) result += Format("expires=%s; ", {FormatHTTPDate(Expires)});
  if (Secure) result += "secure";
  if (result.size() >= 2 && result.compare(result.size() - 2, 2, "; ") == 0)
    result.resize(result.size() - 2);
  return result;
}

std::string StatusString(int code) {
  static const struct {
    int code;
    const char* text;
  } kStatusTexts[] = {{100, "Continue"},
                      {101, "Switching Protocols"},
                      {200, "OK"},
                      {201, "Created"},
                      {202, "Accepted"},
                      {203, "Non-Authoritative Information"},
                      {204, "No Content"},
                      {205, "Reset Content"},
                      {206, "Partial Content"},
                      {300, "Multiple Choices"},
                      {301, "Moved Permanently"},
                      {302, "Moved Temporarily"},
                      {303, "See Other"},
                      {304, "Not Modified"},
                      {305, "Use Proxy"},
                      {400, "Bad Request"},
                      {401, "Unauthorized"},
                      {402, "Payment Required"},
                      {403, "Forbidden"},
                      {404, "Not Found"},
                      {405, "Method Not Allowed"},
                      {406, "None Acceptable"},
                      {407, "Proxy Authentication Required"},
                      {408, "Request Timeout"},
                      {409, "Conflict"},
                      {410, "Gone"},
                      {411, "Length Required"},
                      {412, "Unless True"},
                      {413, "Request Entity Too Large"},
                      {500, "Internal Server Error"},
                      {501, "Not Implemented"},
                      {502, "Bad Gateway"},
                      {503, "Service Unavailable"},
                      {504, "Gateway Timeout"}};
  for (const auto& s : kStatusTexts)
    if (s.code == code) return s.text;
  return "";
}

TWebResponse::TWebResponse(TWebRequest* request) : FHTTPRequest(request) {}
TWebResponse::~TWebResponse() = default;

void TWebResponse::SetContentStream(std::unique_ptr<TStream> stream) {
  if (stream.get() == FContentStream.get()) {
    stream.release();  // the same object: keep the one owner
    return;
  }
  FContentStream = std::move(stream);
  if (FContentStream)
    SetContentLength(static_cast<int32_t>(FContentStream->Size()));
  else
    SetContentLength(static_cast<int32_t>(Content().size()));
}

void TWebResponse::Redirect(const std::string& uri) {
  SetLocation(uri);
  SetStatusCode(302);
  SetContentType("text/html");
  SetContent(
      Format("<html><title>Document Moved 302</title>\r\n<body><h1>Object Moved</h1><hr>\r\n"
             "This Object may be found <a HREF=\"%s\">here.</a><br>\r\n<br></body></html>\r\n",
             {uri}));
  Send();
}

void TWebResponse::WriteStream(TStream& stream) {
  char buffer[8192];
  while (stream.Position() < stream.Size()) {
    long n = stream.Read(buffer, sizeof buffer);
    if (n <= 0) break;
    FHTTPRequest->WriteBytes(buffer, n);
  }
}
