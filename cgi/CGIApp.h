// The application object of the CGI program: it builds the one request and
// response from the CGI channel, serves the request and writes the last-resort
// status-500 answer for a failure outside routing.
#pragma once

#include <exception>
#include <memory>
#include <string>

#include "cgi/WebReq.h"

class ICGIChannel;
class TCGIRequest;
class TCGIResponse;

// Builds the CGI request and response; installs the CGI exception hook when it
// is created.
class TCGIFactory {
 public:
  explicit TCGIFactory(ICGIChannel& channel);
  std::unique_ptr<TCGIRequest> CreateRequest();
  std::unique_ptr<TCGIResponse> CreateResponse(TCGIRequest* request);

 private:
  ICGIChannel& FChannel;
};

// The one application object of the process. Destroying it destroys the held
// module sets and with them the web module.
class TCGIApplication : public TWebApplication {
 public:
  explicit TCGIApplication(ICGIChannel& channel);
  TCGIApplication();
  ~TCGIApplication() override;
  std::string ClassName() const override { return "TCGIApplication"; }

  // Runs the start-up hook, if one is set.
  // Nothing is prepared before the request: kept for the entry's usual sequence.
  void Initialize() {}
  // Serves the one request. Never raises: a failure outside routing is
  // answered by WriteServerError. A request whose body is too large is not
  // served but answered by RefuseContent.
  void Run();
  // The status-413 answer: one line of text naming the declared length and the
  // limit.
  void RefuseContent(TCGIRequest& request, TCGIResponse& response);
  // Writes the status-500 answer for e straight to the channel.
  void WriteServerError(std::exception_ptr e);

  std::unique_ptr<TCGIRequest> CreateRequest();
  std::unique_ptr<TCGIResponse> CreateResponse(TCGIRequest* request);

 private:
  ICGIChannel& FChannel;
  std::unique_ptr<TCGIFactory> FFactory;
};
