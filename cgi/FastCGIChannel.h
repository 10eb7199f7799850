// What the FastCGI servers of both systems share: one libfcgi request as a CGI
// channel. Its parameters are the environment, its input stream the body, its
// output stream the answer, its error stream the web server's log for the
// request. Each system's listener binds it to each request in turn (Next).
#pragma once

#include <fcgiapp.h>

#include <cstdint>
#include <exception>
#include <string>

#include "cgi/CGIApp.h"
#include "cgi/CGIHTTP.h"
#include "platform/Platform.h"
#include "runtime/Exception.h"

// The parameters, a body at the limit and the records around them: the most a
// listener reads before a request is whole.
inline constexpr int64_t kMaxFastCGIRequestBytes = kMaxContentLength + (int64_t{2} << 20);

class TFastCGIChannelBase : public ICGIChannel, public IRequestSource {
 public:
  // No listening socket: libfcgi never accepts by itself.
  TFastCGIChannelBase() { FCGX_InitRequest(&FRequest, -1, 0); }
  ~TFastCGIChannelBase() override { FCGX_Free(&FRequest, 1); }
  TFastCGIChannelBase(const TFastCGIChannelBase&) = delete;
  TFastCGIChannelBase& operator=(const TFastCGIChannelBase&) = delete;

  // True once the listener failed (reported on standard error): the process ends.
  bool Failed() const { return FFailed; }

  std::string GetEnv(const std::string& name) override {
    const char* value = FCGX_GetParam(name.c_str(), FRequest.envp);
    return value ? std::string(value) : std::string();
  }
  long Read(void* buffer, long count) override {
    if (count <= 0) return 0;
    return FCGX_GetStr(static_cast<char*>(buffer), static_cast<int>(count), FRequest.in);
  }
  long Write(const void* buffer, long count) override {
    if (count <= 0) return 0;
    BeforeWrite();
    return FCGX_PutStr(static_cast<const char*>(buffer), static_cast<int>(count), FRequest.out);
  }
  void WriteErrorLine(const std::string& line) override {
    BeforeWrite();
    FCGX_PutStr(line.data(), static_cast<int>(line.size()), FRequest.err);
  }

 protected:
  // Runs before libfcgi writes a byte of the request's answer or log.
  virtual void BeforeWrite() {}
  // Next's answer when its wait raised: the failure on standard error, and no
  // more requests.
  bool ListenerFailed(const char* what) {
    platform::WriteLogLine("-", std::string("error: the FastCGI ") + what + " failed (" +
                                    ExceptionMessage(std::current_exception()) +
                                    "); the process ends");
    FFailed = true;
    return false;
  }

  FCGX_Request FRequest{};

 private:
  bool FFailed = false;
};
