// The FastCGI server on Windows: one process, on the named pipe IIS hands over
// or on a TCP address of its own (cgi/FastCGIApp.h). The listener reads each
// request whole (platform::TFastCGIServer); libfcgi reads its records from there
// and writes the answer's records to the connection.
#include <fcgiapp.h>

#include <cstdint>
#include <exception>
#include <string>

#include "cgi/CGIApp.h"
#include "cgi/CommandLine.h"
#include "cgi/FastCGIApp.h"
#include "cgi/FastCGIChannel.h"
#include "cgi/WebReq.h"
#include "platform/Platform.h"
#include "runtime/Exception.h"

namespace {

// One FastCGI request as a CGI channel, bound by Next to each request in turn.
class TWindowsFastCGIChannel : public TFastCGIChannelBase {
 public:
  explicit TWindowsFastCGIChannel(platform::TFastCGIServer& server) : FServer(server) {}

  // False at the stop (the request in flight was answered), or when the pipe or
  // the socket failed.
  bool Next() override {
    try {
      for (;;) {
        const int connection = FServer.WaitForRequest();
        if (connection < 0) return false;
        FRequest.ipcFd = connection;
        // FCGX_Accept_r first ends the previous request: it must not close this one.
        FRequest.keepConnection = 1;
        FRequest.detached = 1;
        if (FCGX_Accept_r(&FRequest) >= 0) return true;
        // libfcgi refused the records and closed the connection.
        FRequest.ipcFd = -1;
      }
    } catch (...) {
      return ListenerFailed("connection");
    }
  }
  // Sends what is left of the answer and ends the request; a connection the web
  // server keeps open waits for its next request.
  void Finish() override {
    // The request was read whole: no lingering for unread input on closing.
    FRequest.detached = 1;
    FCGX_Finish_r(&FRequest);
    if (FRequest.ipcFd >= 0) FServer.EndRequest();
    FRequest.ipcFd = -1;
  }

 private:
  platform::TFastCGIServer& FServer;
};

}  // namespace

int RunFastCGI(const TLaunchOptions& options, const TWebModuleClass& moduleClass) {
  if (options.ProcessesGiven) {
    // Windows has no fork: IIS starts as many processes as maxInstances asks for.
    platform::WriteLogLine("-",
                           "error: --processes: on Windows a FastCGI listener is one process; IIS "
                           "starts more of them (maxInstances of its FastCGI application)");
    return kUsageExitCode;
  }
  try {
    if (FCGX_Init() != 0) throw Exception("The FastCGI library failed to start");
    platform::TFastCGIServer server(options.Address, platform::GetEnv("FCGI_WEB_SERVER_ADDRS"),
                                    int64_t{options.RequestReadTimeout} * 1000,
                                    kMaxFastCGIRequestBytes);
    TWindowsFastCGIChannel channel(server);
    int result = 0;
    {
      // Served until the stop, the request in flight included; the application,
      // and with it the module and its database connection, goes before the exit.
      TCGIApplication application(channel);
      result = RunApplication(application, moduleClass, channel);
    }
    return channel.Failed() ? 1 : result;
  } catch (...) {
    platform::WriteLogLine("-", "error: " + ExceptionMessage(std::current_exception()));
    return 1;
  }
}
