// The CGI program: serves the one request the web server hands it, then leaves;
// or, started as a FastCGI server, serves request after request (cgi/CommandLine.h).
#include "cgi/CGIApp.h"
#include "cgi/CommandLine.h"
#include "platform/Platform.h"
#include "service/OperatorTools.h"
#include "service/Unit1.h"

int main(int argc, char** argv) {
  // A termination request must not cut a request short, nor let a library's own
  // handler shut the client library down under it.
  platform::BlockTerminationSignal();
  // A write past the file-size limit must fail like any other failed write (the
  // archive copy is then removed and the post refused), not kill the process.
  platform::IgnoreFileSizeSignal();
  if (const std::optional<int> code = RunPersistentMode(
          argc, argv, WebModuleClass<TDorvanaWebInterface>("TDorvanaWebInterface")))
    platform::ExitNow(*code);
  // Run by hand with any other option and no CGI variable: an operator's tool, or
  // a line saying the option is unknown.
  if (service::IsOperatorCommand(argc, argv))
    platform::ExitNow(service::RunOperatorCommand(argc, argv));
  {
    TCGIApplication application;
    try {
      application.Initialize();
      application.RegisterModuleClass(WebModuleClass<TDorvanaWebInterface>("TDorvanaWebInterface"));
      application.Run();
    } catch (...) {
      application.WriteServerError(std::current_exception());
    }
  }
  // The answer is written and every component destroyed: leave without the
  // exit-time handlers of loaded libraries, which only cost time here.
  platform::ExitNow(0);
}
