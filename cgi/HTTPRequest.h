// One HTTP request as the rest of the system sees it, with its field lists and
// its failure log.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "cgi/FieldDecoding.h"

// Request methods; the ordinals are part of the terminal protocol's echo.
enum TMethodType : uint8_t { mtAny = 0, mtGet = 1, mtPut = 2, mtPost = 3, mtHead = 4 };

// One HTTP request. Every property is a numbered variable; the CGI request reads
// them from the environment. The field lists are built on first use and kept;
// building them raises the decoding errors of DecodeField, and a list that raised
// keeps the fields added before the failing one.
class TWebRequest {
 public:
  // Indices of StringVariable.
  enum : int {
    kRequestMethod = 0,
    kServerProtocol = 1,
    kUrl = 2,
    kQueryString = 3,
    kPathInfo = 4,
    kPathTranslated = 5,
    kCacheControl = 6,
    kDate = 7,
    kAccept = 8,
    kFrom = 9,
    kHost = 10,
    kIfModifiedSince = 11,
    kReferer = 12,
    kUserAgent = 13,
    kContentEncoding = 14,
    kContentType = 15,
    kContentLength = 16,
    kContentVersion = 17,
    kDerivedFrom = 18,
    kExpires = 19,
    kTitle = 20,
    kRemoteAddr = 21,
    kRemoteHost = 22,
    kScriptName = 23,
    kServerPort = 24,
    kContent = 25,
    kConnection = 26,
    kCookie = 27,
    kAuthorization = 28
  };

  TWebRequest();
  virtual ~TWebRequest();
  TWebRequest(const TWebRequest&) = delete;
  TWebRequest& operator=(const TWebRequest&) = delete;

  virtual std::string StringVariable(int index) = 0;
  // The variable parsed as an HTTP date (days since 1899-12-30); -1.0 when empty
  // or not a date.
  virtual double DateVariable(int index) = 0;
  // The variable as an integer; -1 when empty or not a number.
  virtual int32_t IntegerVariable(int index) = 0;
  virtual std::string RoutingPathInfo() = 0;
  virtual std::string RoutingScriptName() = 0;
  virtual long ReadBytes(void* buffer, long count) = 0;
  // Up to count bytes of the body still unread; fewer when the input ends.
  virtual std::string ReadContent(int32_t count) = 0;
  virtual std::string MapUriToPath(const std::string& uri) = 0;
  virtual long WriteBytes(const void* buffer, long count) = 0;
  // False for the empty text (nothing written) and for a short write.
  virtual bool WriteText(const std::string& text) = 0;
  virtual bool WriteHeaderBlock(int statusCode, const std::string& statusText,
                                const std::string& headers) = 0;
  virtual std::string EnvironmentField(const std::string& name) = 0;
  // The body as read at construction (Content), without a copy.
  virtual const std::string& ContentBytes() = 0;

  // The failure log. Every answer that reports a failure also leaves one line in
  // the web server's error log: the command, the remote address, the order's GUID
  // when known and the message (FailureLogText). The answer's bytes
  // are not touched. A CGI process writes the line to standard error; a
  // persistent process overrides WriteFailureLine to send it where its web server
  // logs it.
  void LogFailure(const std::string& message);
  // What the line names: the command being served (the path when none is set)
  // and the order's GUID.
  void SetLogCommand(const std::string& command) { FLogCommand = command; }
  void SetLogGuid(const std::string& guid) { FLogGuid = guid; }
  virtual void WriteFailureLine(const std::string& command, const std::string& text);
  // When the request began (platform::SteadyMilliseconds at construction: the
  // process start of a CGI process, the accept of a persistent one); its
  // deadline counts from here.
  int64_t StartTime() const { return FStartTime; }

  TMethodType MethodType() const { return FMethodType; }
  // The fields of QueryString, split at "&" and decoded.
  const TFieldList& QueryFieldList();
  // The fields of the body, split at "&" and line breaks and decoded, whatever
  // the body's content type.
  const TFieldList& ContentFieldList();

  std::string RequestMethod() { return StringVariable(kRequestMethod); }
  std::string ServerProtocol() { return StringVariable(kServerProtocol); }
  std::string Url() { return StringVariable(kUrl); }
  std::string QueryString() { return StringVariable(kQueryString); }
  std::string PathInfo() { return StringVariable(kPathInfo); }
  std::string PathTranslated() { return StringVariable(kPathTranslated); }
  std::string Host() { return StringVariable(kHost); }
  std::string ContentType() { return StringVariable(kContentType); }
  int32_t ContentLength() { return IntegerVariable(kContentLength); }
  std::string RemoteAddr() { return StringVariable(kRemoteAddr); }
  std::string ScriptName() { return StringVariable(kScriptName); }
  std::string Content() { return StringVariable(kContent); }

 protected:
  void SetMethodType(TMethodType methodType) { FMethodType = methodType; }

 private:
  TMethodType FMethodType = mtAny;
  std::string FLogCommand;
  std::string FLogGuid;
  int64_t FStartTime = 0;
  std::unique_ptr<TFieldList> FQueryFields;
  std::unique_ptr<TFieldList> FContentFields;
};

// The text of a failure-log line (runtime/LogLine.h adds the time and command):
// "failure from ADDRESS[ order GUID]: MESSAGE", the message's lines joined by
// blanks, at most 1000 bytes of it. "-" stands for an unknown address.
std::string FailureLogText(std::string_view remoteAddr, std::string_view guid,
                           std::string_view message);
