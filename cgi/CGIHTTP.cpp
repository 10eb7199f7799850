#include "cgi/CGIHTTP.h"

#include <algorithm>
#include <cstdint>

#include "platform/Platform.h"
#include "runtime/Format.h"
#include "runtime/LogLine.h"
#include "runtime/Text.h"

namespace {

const char* const kVariableNames[] = {"REQUEST_METHOD",
                                      "SERVER_PROTOCOL",
                                      "URL",
                                      "QUERY_STRING",
                                      "PATH_INFO",
                                      "PATH_TRANSLATED",
                                      "HTTP_CACHE_CONTROL",
                                      "HTTP_DATE",
                                      "HTTP_ACCEPT",
                                      "HTTP_FROM",
                                      "HTTP_HOST",
                                      "HTTP_IF_MODIFIED_SINCE",
                                      "HTTP_REFERER",
                                      "HTTP_USER_AGENT",
                                      "HTTP_CONTENT_ENCODING",
                                      "HTTP_CONTENT_TYPE",
                                      "HTTP_CONTENT_LENGTH",
                                      "HTTP_CONTENT_VERSION",
                                      "HTTP_DERIVED_FROM",
                                      "HTTP_EXPIRES",
                                      "HTTP_TITLE",
                                      "REMOTE_ADDR",
                                      "REMOTE_HOST",
                                      "SCRIPT_NAME",
                                      "SERVER_PORT",
                                      "",
                                      "HTTP_CONNECTION",
                                      "HTTP_COOKIE",
                                      "HTTP_AUTHORIZATION"};
constexpr int kVariableCount = sizeof kVariableNames / sizeof kVariableNames[0];

// The body is read in pieces of this size, so a forged CONTENT_LENGTH costs no
// more memory than the bytes that really arrive.
constexpr long kReadChunk = 64 * 1024;

// The decimal digits of a length text that exceeds limit, in the syntax of
// TryStrToInt (blanks, an optional "+", decimal or hexadecimal digits) but of any
// size; empty for a text that is no such number or not above the limit.
std::string LengthAbove(const std::string& text, int64_t limit) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  if (i < text.size() && text[i] == '+') ++i;
  int base = 10;
  if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
    base = 16, ++i;
  } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    base = 16, i += 2;
  }
  if (i >= text.size()) return "";
  // Past the limit only the digits matter; the value saturates.
  uint64_t value = 0;
  bool huge = false;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    const int d = DigitValue(c, base);
    if (d < 0) return "";
    if (value > (UINT64_MAX - static_cast<uint64_t>(d)) / static_cast<uint64_t>(base))
      huge = true;
    else
      value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(d);
  }
  if (huge) return "more than " + std::to_string(UINT64_MAX);
  if (value <= static_cast<uint64_t>(limit)) return "";
  return std::to_string(value);
}

class TStandardChannel : public ICGIChannel {
 public:
  std::string GetEnv(const std::string& name) override { return platform::GetEnv(name); }
  long Read(void* buffer, long count) override { return platform::ReadStdin(buffer, count); }
  long Write(const void* buffer, long count) override {
    return platform::WriteStdout(buffer, count);
  }
};

}  // namespace

void ICGIChannel::WriteErrorLine(const std::string& line) { platform::WriteStderr(line); }

void ICGIChannel::WriteLogLine(std::string_view command, std::string_view text) {
  WriteErrorLine(FormatLogLine(platform::UnixTimeNow(), command, text));
}

ICGIChannel& StandardCGIChannel() {
  static TStandardChannel channel;
  return channel;
}

// ---- Request ---------------------------------------------------------------------

TCGIRequest::TCGIRequest(ICGIChannel& channel) : FChannel(channel) {
  const std::string method = StringVariable(kRequestMethod);
  if (SameText(method, "GET"))
    SetMethodType(mtGet);
  else if (SameText(method, "PUT"))
    SetMethodType(mtPut);
  else if (SameText(method, "POST"))
    SetMethodType(mtPost);
  else if (SameText(method, "HEAD"))
    SetMethodType(mtHead);
  FRefusedContentLength = LengthAbove(StringVariable(kContentLength), kMaxContentLength);
  if (FRefusedContentLength.empty()) FContent = ReadContent(IntegerVariable(kContentLength));
}

std::string TCGIRequest::StringVariable(int index) {
  if (index == kContent) return FContent;
  if (index < 0 || index >= kVariableCount) return "";
  return EnvironmentField(kVariableNames[index]);
}

double TCGIRequest::DateVariable(int index) {
  const std::string text = StringVariable(index);
  double result;
  if (text.empty() || !ParseHTTPDate(text, result)) return -1.0;
  return result;
}

int32_t TCGIRequest::IntegerVariable(int index) {
  const std::string text = StringVariable(index);
  int32_t value;
  if (text.empty() || !TryStrToInt(text, value)) return -1;
  return value;
}

long TCGIRequest::ReadBytes(void* buffer, long count) { return FChannel.Read(buffer, count); }

std::string TCGIRequest::ReadContent(int32_t count) {
  std::string result;
  if (count <= 0 || !FRefusedContentLength.empty()) return result;
  size_t remaining = static_cast<size_t>(count);
  // Sized once (the count is within the body limit): a string grown chunk by chunk
  // would double its room and copy the body as it went.
  result.reserve(remaining);
  while (remaining > 0) {
    const size_t chunk = std::min(remaining, static_cast<size_t>(kReadChunk));
    const size_t old = result.size();
    result.resize(old + chunk);
    const long n = ReadBytes(result.data() + old, static_cast<long>(chunk));
    if (n <= 0) {
      result.resize(old);
      break;
    }
    result.resize(old + static_cast<size_t>(n));
    remaining -= static_cast<size_t>(n);
  }
  return result;
}

std::string TCGIRequest::MapUriToPath(const std::string& uri) {
  const std::string translated = PathTranslated();
  const std::string pathInfo = PathInfo();
  if (!translated.empty() && translated.size() >= pathInfo.size() &&
      translated.compare(translated.size() - pathInfo.size(), pathInfo.size(), pathInfo) == 0)
    return translated.substr(0, translated.size() - pathInfo.size()) + uri;
  return uri;
}

long TCGIRequest::WriteBytes(const void* buffer, long count) {
  return FChannel.Write(buffer, count);
}

bool TCGIRequest::WriteText(const std::string& text) {
  if (text.empty()) return false;
  return WriteBytes(text.data(), static_cast<long>(text.size())) == static_cast<long>(text.size());
}

bool TCGIRequest::WriteHeaderBlock(int, const std::string& statusText, const std::string& headers) {
  return WriteText(Format("Status: %s\r\n%s", {statusText, headers}));
}

std::string TCGIRequest::EnvironmentField(const std::string& name) {
  std::string value = FChannel.GetEnv(name);
  if (!value.empty()) return value;
  if (name.compare(0, 5, "HTTP_") == 0) return FChannel.GetEnv(name.substr(5));
  return FChannel.GetEnv("HTTP_" + name);
}

// ---- Response --------------------------------------------------------------------

TCGIResponse::TCGIResponse(TWebRequest* request) : TWebResponse(request) { ApplyDefaults(); }

void TCGIResponse::ApplyDefaults() {
  if (FHTTPRequest->ServerProtocol().empty()) FStringItems[kVersion] = "1.0";
  SetStatusCode(200);
  for (int i = 2; i >= 0; --i) FDateItems[i] = -1.0;
  FStringItems[kContentType] = "text/html";
}

std::string TCGIResponse::StringItem(int index) {
  if (index < 0 || index > 11) return "";
  return FStringItems[index];
}

void TCGIResponse::SetStringItem(int index, const std::string& value) {
  if (index >= 0 && index <= 11) FStringItems[index] = value;
}

double TCGIResponse::DateItem(int index) {
  if (index < 0 || index > 2) return -1.0;
  return FDateItems[index];
}

void TCGIResponse::SetDateItem(int index, double value) {
  if (index >= 0 && index <= 2) FDateItems[index] = value;
}

int32_t TCGIResponse::IntegerItem(int index) { return index == 0 ? FContentLength : -1; }

void TCGIResponse::SetIntegerItem(int index, int32_t value) {
  if (index == 0) FContentLength = value;
}

void TCGIResponse::SetContent(const std::string& content) {
  FContent = content;
  if (!FContentStream) FContentLength = static_cast<int32_t>(FContent.size());
}

void TCGIResponse::SetStatusCode(int code) {
  if (code == FStatusCode) return;
  FStatusCode = code;
  FStringItems[kReasonText] = StatusString(code);
}

void TCGIResponse::Send() {
  if (!FHTTPRequest->ServerProtocol().empty()) {
    const std::string& reason = FStringItems[kReasonText];
    const std::string statusText =
        !reason.empty() && FStatusCode > 0 ? Format("%d %s", {FStatusCode, reason}) : "200 OK";
    std::string headers;
    auto add = [&headers](const char* format, const std::string& value) {
      if (!value.empty()) headers += Format(format, {value});
    };
    add("Location: %s\r\n", FStringItems[kLocation]);
    add("Allow: %s\r\n", FStringItems[kAllow]);
    for (const TCookie& cookie : FCookies) add("Set-Cookie: %s\r\n", cookie.HeaderValue());
    add("Derived-From: %s\r\n", FStringItems[kDerivedFrom]);
    if (FDateItems[kExpires] > 0) add("Expires: %s\r\n", FormatHTTPDate(FDateItems[kExpires]));
    if (FDateItems[kLastModified] > 0)
      add("Last-Modified: %s\r\n", FormatHTTPDate(FDateItems[kLastModified]));
    add("Title: %s\r\n", FStringItems[kTitle]);
    add("WWW-Authenticate: %s\r\n",
        FStringItems[kRealm].empty()
            ? FStringItems[kWwwAuthenticate]
            : Format("%s Realm=%s", {FStringItems[kWwwAuthenticate], FStringItems[kRealm]}));
    for (int i = 0; i < FCustomHeaders.Count(); ++i) {
      const std::string name = FCustomHeaders.Names(i);
      headers += name + ": " + FCustomHeaders.Values(name) + "\r\n";
    }
    add("Content-Version: %s\r\n", FStringItems[kContentVersion]);
    add("Content-Encoding: %s\r\n", FStringItems[kContentEncoding]);
    add("Content-Type: %s\r\n", FStringItems[kContentType]);
    if (!FContent.empty() || FContentStream)
      headers += Format("Content-Length: %s\r\n", {IntToStr(FContentLength)});
    headers += "Content:\r\n\r\n";
    FHTTPRequest->WriteHeaderBlock(FStatusCode, statusText, headers);
  }
  if (!FContentStream) {
    FHTTPRequest->WriteText(FContent);
  } else {
    WriteStream(*FContentStream);
    SetContentStream(nullptr);
  }
  FSent = true;
}
