#include "cgi/FastCGIApp.h"

#include <fcgiapp.h>

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

#include "cgi/CGIApp.h"
#include "cgi/CommandLine.h"
#include "cgi/FastCGIChannel.h"
#include "cgi/WebReq.h"
#include "platform/Platform.h"
#include "runtime/Exception.h"

namespace {

// The request channel of a POSIX FastCGI process. The same channel serves every
// request of the process; Next binds it to the next one.
//
// The program accepts connections itself and hands libfcgi a request only once
// it has arrived whole (platform::WaitForRequest), so no read of libfcgi's waits
// on a client: from the connection when the request came at once, else from a
// memory file whose descriptor the connection takes over for the answer. libfcgi
// gets no listening socket, so it never accepts by itself.
class TFastCGIChannel : public TFastCGIChannelBase {
 public:
  TFastCGIChannel(int listenSocket, int readTimeoutSeconds)
      : FListenSocket(listenSocket),
        FReadTimeout(int64_t{readTimeoutSeconds} * 1000),
        FAllowedAddresses(platform::GetEnv("FCGI_WEB_SERVER_ADDRS")) {}

  // Waits for the next request whose parameters and body have arrived; false
  // when the wait ended without one (the termination signal) or the listening
  // socket failed.
  bool Next() override {
    try {
      return Accept();
    } catch (...) {
      return ListenerFailed("socket");
    }
  }
  // Sends what is left of the answer and ends the request; a connection the web
  // server keeps open waits for its next request with the others.
  void Finish() override {
    UseSocket();
    // The request was read whole: closing needs no lingering for unread input
    // (which would last as long as a client goes on sending).
    FRequest.detached = 1;
    FCGX_Finish_r(&FRequest);
    if (FRequest.ipcFd >= 0)
      platform::WaitAgain(platform::TDescriptor(std::exchange(FRequest.ipcFd, -1)), FPeer,
                          FReadTimeout, kMaxFastCGIRequestBytes);
  }

 private:
  // Next's wait; raises when the listening socket fails.
  bool Accept() {
    for (;;) {
      platform::TWaitedRequest next;
      if (!platform::WaitForRequest(FListenSocket, FAllowedAddresses, FReadTimeout,
                                    kMaxFastCGIRequestBytes, next))
        return false;
      FPeer = std::move(next.Peer);
      // libfcgi reads from the memory file, or from the connection itself when
      // the request came at once; it owns that descriptor until Finish.
      if (next.Content) {
        FConnection = std::move(next.Socket);
        FRequest.ipcFd = next.Content.Release();
      } else {
        FRequest.ipcFd = next.Socket.Release();
      }
      // FCGX_Accept_r first ends the previous request: it must not close this one.
      FRequest.keepConnection = 1;
      // A request libfcgi refuses is closed at once: a lingering close would read
      // for as long as the client goes on sending (it was read whole already).
      FRequest.detached = 1;
      if (FCGX_Accept_r(&FRequest) >= 0) return true;
      // libfcgi refused the records and closed its descriptor: the connection goes.
      FConnection.Reset();
    }
  }
  // From the first byte of the answer on, libfcgi writes to the connection: it
  // takes the memory file's descriptor number.
  void BeforeWrite() override { UseSocket(); }
  void UseSocket() {
    if (!FConnection) return;
    if (FRequest.ipcFd >= 0)
      platform::MoveDescriptor(std::move(FConnection), FRequest.ipcFd);
    else
      FConnection.Reset();
  }

  int FListenSocket;
  int64_t FReadTimeout;
  std::string FAllowedAddresses;
  // The connection while libfcgi reads the request from its memory file.
  platform::TDescriptor FConnection;
  std::string FPeer;
};

int ServeRequests(const platform::TListeningSocket& listenSocket, const TLaunchOptions& options,
                  const TWebModuleClass& moduleClass) {
  TFastCGIChannel channel(listenSocket.Descriptor(), options.RequestReadTimeout);
  int result = 0;
  {
    // Served until the termination signal, and after it the requests that had
    // begun to arrive.
    TCGIApplication application(channel);
    result = RunApplication(application, moduleClass, channel);
  }
  return channel.Failed() ? 1 : result;
}

}  // namespace

int RunFastCGI(const TLaunchOptions& options, const TWebModuleClass& moduleClass) {
  try {
    platform::CatchTerminationSignal();
    if (FCGX_Init() != 0) throw Exception("The FastCGI library failed to start");
    // Without an address, the socket a process manager handed over: the one a
    // service manager passed (systemd's protocol), else standard input.
    const platform::TListeningSocket listenSocket =
        options.Address.empty() ? platform::TakeManagerSocket()
                                : platform::ListenOn(options.Address, options.SocketGroup);
    if (options.Processes == 0) return ServeRequests(listenSocket, options, moduleClass);
    return platform::RunChildren(options.Processes,
                                 [&] { return ServeRequests(listenSocket, options, moduleClass); });
  } catch (...) {
    platform::WriteLogLine("-", "error: " + ExceptionMessage(std::current_exception()));
    return 1;
  }
}
