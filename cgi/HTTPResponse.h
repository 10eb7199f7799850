// The answer to one HTTP request, with the cookies it sets.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "cgi/HTTPRequest.h"
#include "cgi/Streams.h"
#include "runtime/StringList.h"

// A cookie the response sets.
struct TCookie {
  std::string Name, Value, Domain, Path;
  double Expires = -1.0;
  bool Secure = false;
  // The Set-Cookie header value.
  std::string HeaderValue() const;
};
using TCookieCollection = std::vector<TCookie>;

// The answer to the one request. Bound to the request it writes through; owns a
// content stream that was set. Sent at most once by its callers.
class TWebResponse {
 public:
  // Indices of StringItem.
  enum : int {
    kVersion = 0,
    kReasonText = 1,
    kServer = 2,
    kWwwAuthenticate = 3,
    kRealm = 4,
    kAllow = 5,
    kLocation = 6,
    kContentEncoding = 7,
    kContentType = 8,
    kContentVersion = 9,
    kDerivedFrom = 10,
    kTitle = 11
  };
  // Indices of DateItem.
  enum : int { kDate = 0, kExpires = 1, kLastModified = 2 };

  explicit TWebResponse(TWebRequest* request);
  virtual ~TWebResponse();
  TWebResponse(const TWebResponse&) = delete;
  TWebResponse& operator=(const TWebResponse&) = delete;

  virtual std::string StringItem(int index) = 0;
  virtual void SetStringItem(int index, const std::string& value) = 0;
  virtual double DateItem(int index) = 0;
  virtual void SetDateItem(int index, double value) = 0;
  virtual int32_t IntegerItem(int index) = 0;
  virtual void SetIntegerItem(int index, int32_t value) = 0;
  virtual std::string Content() = 0;
  virtual void SetContent(const std::string& content) = 0;
  // Takes ownership; destroys the stream it replaces.
  virtual void SetContentStream(std::unique_ptr<TStream> stream);
  virtual int StatusCode() = 0;
  virtual void SetStatusCode(int code) = 0;
  virtual std::string LogText() { return ""; }
  virtual void SetLogText(const std::string&) {}
  virtual void Send() = 0;
  virtual void Redirect(const std::string& uri);
  virtual void WriteStream(TStream& stream);
  virtual bool AlreadySent() = 0;

  TWebRequest* HTTPRequest() const { return FHTTPRequest; }
  TStream* ContentStream() const { return FContentStream.get(); }
  TStringList& CustomHeaders() { return FCustomHeaders; }
  TCookieCollection& Cookies() { return FCookies; }

  std::string ContentType() { return StringItem(kContentType); }
  void SetContentType(const std::string& v) { SetStringItem(kContentType, v); }
  std::string ReasonText() { return StringItem(kReasonText); }
  void SetReasonText(const std::string& v) { SetStringItem(kReasonText, v); }
  std::string Location() { return StringItem(kLocation); }
  void SetLocation(const std::string& v) { SetStringItem(kLocation, v); }
  int32_t ContentLength() { return IntegerItem(0); }
  void SetContentLength(int32_t v) { SetIntegerItem(0, v); }

 protected:
  // Fills the defaults; run once by the constructor of the concrete response.
  virtual void ApplyDefaults() = 0;

  TWebRequest* FHTTPRequest;
  std::unique_ptr<TStream> FContentStream;
  TStringList FCustomHeaders;
  TCookieCollection FCookies;
};

// The reason text of a status code; empty for codes outside the table.
std::string StatusString(int code);
