// The application object of the CGI program: it builds the one request and
// response from the CGI channel, serves the request and writes the last-resort
// status-500 answer for a failure outside routing. The entry sequence that runs
// it is the same for a CGI process and a FastCGI server.
#pragma once

#include <exception>
#include <memory>
#include <string>

#include "cgi/WebReq.h"

class ICGIChannel;
class TCGIRequest;
class TCGIResponse;
struct TWebModuleClass;

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

// Where the application's requests come from: a CGI process has its one request
// on the channel from the start; a FastCGI server binds the channel to each
// request it accepts in turn.
class IRequestSource {
 public:
  virtual ~IRequestSource() = default;
  // Binds the channel to the next request; false when there is none left.
  virtual bool Next() = 0;
  // Ends the request Next bound.
  virtual void Finish() = 0;
};

// The program's entry sequence, in both modes: initialises application, registers
// moduleClass, then runs the application for each request of requests (Run
// answers every failure of a request itself). A failure to start is answered to
// the first request with the last-resort status-500 page, and gives 1; else 0.
int RunApplication(TCGIApplication& application, const TWebModuleClass& moduleClass,
                   IRequestSource& requests);

// Serves the one CGI request of the process (environment and standard input)
// with a module of moduleClass, every component destroyed on return.
void RunCGI(const TWebModuleClass& moduleClass);
