#include "cgi/FastCGIApp.h"

#include <fcgiapp.h>

#include <exception>

#include "cgi/CGIApp.h"
#include "cgi/CGIHTTP.h"
#include "cgi/CommandLine.h"
#include "cgi/WebReq.h"
#include "platform/Platform.h"
#include "runtime/Exception.h"

namespace {

// One FastCGI request as a CGI channel: its parameters are the environment, its
// input stream the body, its output stream the answer. The same channel serves
// every request of the process; Accept binds it to the next one.
class TFastCGIChannel : public ICGIChannel {
 public:
  explicit TFastCGIChannel(int listenSocket) {
    FCGX_InitRequest(&FRequest, listenSocket, FCGI_FAIL_ACCEPT_ON_INTR);
  }
  ~TFastCGIChannel() override { FCGX_Free(&FRequest, 1); }
  TFastCGIChannel(const TFastCGIChannel&) = delete;
  TFastCGIChannel& operator=(const TFastCGIChannel&) = delete;

  // Waits for the next request; false when the wait ended without one (the
  // termination signal, or the socket failed).
  bool Accept() {
    platform::AllowTermination(true);
    // A signal pending while it was blocked is handled by now.
    const bool accepted = !platform::TerminationRequested() && FCGX_Accept_r(&FRequest) >= 0;
    platform::AllowTermination(false);
    return accepted;
  }
  // Sends what is left of the answer and ends the request.
  void Finish() { FCGX_Finish_r(&FRequest); }

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
    return FCGX_PutStr(static_cast<const char*>(buffer), static_cast<int>(count), FRequest.out);
  }
  // The request's error stream: a line a request writes for the web server's log
  // goes here in this mode (standard error in a CGI process).
  void WriteErrorLine(const std::string& line) override {
    FCGX_PutStr(line.data(), static_cast<int>(line.size()), FRequest.err);
  }

 private:
  FCGX_Request FRequest{};
};

int ServeRequests(int listenSocket, const TWebModuleClass& moduleClass) {
  TFastCGIChannel channel(listenSocket);
  {
    TCGIApplication application(channel);
    try {
      application.Initialize();
      application.RegisterModuleClass(moduleClass);
    } catch (...) {
      platform::WriteLogLine("-", "error: " + ExceptionMessage(std::current_exception()));
      return 1;
    }
    while (!platform::TerminationRequested()) {
      if (!channel.Accept()) {
        if (platform::TerminationRequested()) break;
        platform::WriteLogLine("-", "error: the FastCGI socket failed; the process ends");
        return 1;
      }
      // Run answers every failure itself, as a CGI process would.
      application.Run();
      channel.Finish();
    }
  }
  return 0;
}

}  // namespace

int RunFastCGI(const TLaunchOptions& options, const TWebModuleClass& moduleClass) {
  int listenSocket = 0;
  try {
    platform::CatchTerminationSignal();
    if (FCGX_Init() != 0) throw Exception("The FastCGI library failed to start");
    if (!options.Address.empty()) listenSocket = platform::ListenOn(options.Address);
    if (options.Processes == 0) return ServeRequests(listenSocket, moduleClass);
    return platform::RunChildren(options.Processes,
                                 [&] { return ServeRequests(listenSocket, moduleClass); });
  } catch (...) {
    platform::WriteLogLine("-", "error: " + ExceptionMessage(std::current_exception()));
    return 1;
  }
}
