// The request and response of a CGI process: variables from the environment, the
// body from standard input, the answer in CGI form on standard output.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "cgi/HTTPApp.h"

// Where a CGI request comes from and its answer goes: the environment and the
// raw standard handles. Tests put a channel of their own in its place.
class ICGIChannel {
 public:
  virtual ~ICGIChannel() = default;
  // The value of an environment variable; empty when not set.
  virtual std::string GetEnv(const std::string& name) = 0;
  // One read: bytes read, 0 at the end of input, -1 on failure.
  virtual long Read(void* buffer, long count) = 0;
  // Bytes written, -1 on failure.
  virtual long Write(const void* buffer, long count) = 0;
  // Writes one whole line (ending in a line feed) for the web server's error
  // log: standard error for a CGI process, the request's error stream under
  // FastCGI.
  virtual void WriteErrorLine(const std::string& line);
  // One line of the program's log format (UTC time, command, text) through
  // WriteErrorLine.
  void WriteLogLine(std::string_view command, std::string_view text);
};

// The process's own environment and standard handles.
ICGIChannel& StandardCGIChannel();

// The largest body a request may declare. A larger CONTENT_LENGTH is refused
// before a byte of the body is read: the request is answered with status 413
// and never served, so nothing is archived or imported.
inline constexpr int64_t kMaxContentLength = 16777216;

// The one request of a CGI process. The constructor reads the method and the
// whole body (CONTENT_LENGTH bytes at most, fewer when the input ends early);
// a body declared longer than kMaxContentLength is not read at all.
class TCGIRequest : public TWebRequest {
 public:
  explicit TCGIRequest(ICGIChannel& channel = StandardCGIChannel());

  // The declared length when CONTENT_LENGTH exceeds kMaxContentLength (the body
  // was then left unread), as its decimal digits; empty otherwise.
  const std::string& RefusedContentLength() const { return FRefusedContentLength; }

  std::string StringVariable(int index) override;
  double DateVariable(int index) override;
  int32_t IntegerVariable(int index) override;
  std::string RoutingPathInfo() override { return StringVariable(kPathInfo); }
  std::string RoutingScriptName() override { return StringVariable(kScriptName); }
  long ReadBytes(void* buffer, long count) override;
  std::string ReadContent(int32_t count) override;
  std::string MapUriToPath(const std::string& uri) override;
  long WriteBytes(const void* buffer, long count) override;
  bool WriteText(const std::string& text) override;
  bool WriteHeaderBlock(int statusCode, const std::string& statusText,
                        const std::string& headers) override;
  // The variable's value; when it is empty, the same name with "HTTP_" taken
  // off or put in front.
  std::string EnvironmentField(const std::string& name) override;
  const std::string& ContentBytes() override { return FContent; }
  // A failure's line for the web server's error log, through the channel this
  // request came from (see ICGIChannel::WriteErrorLine).
  void WriteFailureLine(const std::string& command, const std::string& text) override {
    FChannel.WriteLogLine(command, text);
  }

 private:
  ICGIChannel& FChannel;
  std::string FContent;
  std::string FRefusedContentLength;
};

// The answer of a CGI process: "Status:" line, headers in a fixed order, a
// "Content:" line, the empty line, then the body.
class TCGIResponse : public TWebResponse {
 public:
  explicit TCGIResponse(TWebRequest* request);

  std::string StringItem(int index) override;
  void SetStringItem(int index, const std::string& value) override;
  double DateItem(int index) override;
  void SetDateItem(int index, double value) override;
  int32_t IntegerItem(int index) override;
  void SetIntegerItem(int index, int32_t value) override;
  std::string Content() override { return FContent; }
  void SetContent(const std::string& content) override;
  int StatusCode() override { return FStatusCode; }
  void SetStatusCode(int code) override;
  void Send() override;
  bool AlreadySent() override { return FSent; }

 protected:
  void ApplyDefaults() override;

 private:
  int FStatusCode = 0;
  std::string FStringItems[12];
  int32_t FContentLength = 0;
  double FDateItems[3] = {-1.0, -1.0, -1.0};
  std::string FContent;
  bool FSent = false;
};
