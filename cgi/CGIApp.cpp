#include "cgi/CGIApp.h"

#include <utility>

#include "cgi/CGIHTTP.h"
#include "platform/Platform.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "runtime/Text.h"

namespace {

// A CGI process's one request, on the standard channel from the start.
class TOneRequest : public IRequestSource {
 public:
  bool Next() override { return !std::exchange(FServed, true); }
  void Finish() override {}

 private:
  bool FServed = false;
};

}  // namespace

TCGIFactory::TCGIFactory(ICGIChannel& channel) : FChannel(channel) {
  SetExceptionHook(CGIHandleException);
}

std::unique_ptr<TCGIRequest> TCGIFactory::CreateRequest() {
  return std::make_unique<TCGIRequest>(FChannel);
}

std::unique_ptr<TCGIResponse> TCGIFactory::CreateResponse(TCGIRequest* request) {
  return std::make_unique<TCGIResponse>(request);
}

TCGIApplication::TCGIApplication(ICGIChannel& channel) : FChannel(channel) {}
TCGIApplication::TCGIApplication() : TCGIApplication(StandardCGIChannel()) {}
TCGIApplication::~TCGIApplication() = default;

std::unique_ptr<TCGIRequest> TCGIApplication::CreateRequest() {
  if (!FFactory) FFactory = std::make_unique<TCGIFactory>(FChannel);
  return FFactory->CreateRequest();
}

std::unique_ptr<TCGIResponse> TCGIApplication::CreateResponse(TCGIRequest* request) {
  if (!FFactory) FFactory = std::make_unique<TCGIFactory>(FChannel);
  return FFactory->CreateResponse(request);
}

void TCGIApplication::Run() {
  platform::SetBinaryStdio();
  try {
    std::unique_ptr<TCGIRequest> request = CreateRequest();
    std::unique_ptr<TCGIResponse> response = CreateResponse(request.get());
    // The response goes before the request, also when serving raises.
    if (!request->RefusedContentLength().empty()) {
      RefuseContent(*request, *response);
      return;
    }
    ServeRequest(request.get(), response.get());
  } catch (...) {
    WriteServerError(std::current_exception());
  }
}

void TCGIApplication::RefuseContent(TCGIRequest& request, TCGIResponse& response) {
  constexpr int kStatusPayloadTooLarge = 413;
  response.SetStatusCode(kStatusPayloadTooLarge);
  response.SetContentType("text/plain");
  response.SetContent(Format("Request body of %s bytes exceeds the limit of %d bytes",
                             {request.RefusedContentLength(), kMaxContentLength}));
  request.LogFailure(response.Content());
  response.Send();
}

void TCGIApplication::WriteServerError(std::exception_ptr e) {
  const std::string message = ExceptionMessage(e);
  // No request object may exist here: the line names what the channel tells.
  FChannel.WriteLogLine(FChannel.GetEnv("PATH_INFO"),
                        FailureLogText(FChannel.GetEnv("REMOTE_ADDR"), "", message));
  const std::string page = Format(
      "<html><title>Internal Server Error 500</title>\r\n"
      "<h1>Internal Server Error 500</h1><hr>\r\n"
      "Exception: %s<br>\r\nMessage: %s<br></html>\r\n",
      {ExceptionClassName(e), message});
  const std::string head =
      Format("Status: 500 %s\r\nContent-Type: text/html\r\nContent-Length: %d\r\n\r\n",
             {BlankControls(message), page.size()});
  FChannel.Write(head.data(), static_cast<long>(head.size()));
  FChannel.Write(page.data(), static_cast<long>(page.size()));
}

int RunApplication(TCGIApplication& application, const TWebModuleClass& moduleClass,
                   IRequestSource& requests) {
  try {
    application.Initialize();
    application.RegisterModuleClass(moduleClass);
  } catch (...) {
    const std::exception_ptr failure = std::current_exception();
    if (requests.Next()) {
      application.WriteServerError(failure);
      requests.Finish();
    }
    return 1;
  }
  while (requests.Next()) {
    application.Run();
    requests.Finish();
  }
  return 0;
}

void RunCGI(const TWebModuleClass& moduleClass) {
  TCGIApplication application;
  TOneRequest request;
  RunApplication(application, moduleClass, request);
}
