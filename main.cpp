// The CGI program: serves the one request the web server hands it, then leaves;
// or, started as a FastCGI server, serves request after request; or, run by hand
// with arguments, is an operator's tool (cgi/CommandLine.h).
#include "cgi/CGIApp.h"
#include "cgi/CommandLine.h"
#include "cgi/FastCGIApp.h"
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
  const TWebModuleClass moduleClass = WebModuleClass<TDorvanaWebInterface>("TDorvanaWebInterface");
  const TLaunchOptions launch = ReadLaunchOptions(argc, argv);
  switch (launch.Mode) {
    case TLaunchMode::lmCGI:
      RunCGI(moduleClass);
      // The answer is written and every component destroyed: leave without the
      // exit-time handlers of loaded libraries, which only cost time here.
      platform::ExitNow(0);
    case TLaunchMode::lmFastCGI:
      platform::ExitNow(RunFastCGI(launch, moduleClass));
    case TLaunchMode::lmTool:
      platform::ExitNow(
          service::RunOperatorCommand(launch.ToolArgs, service::StandardToolOutput()));
    case TLaunchMode::lmUsageError:
      break;
  }
  platform::WriteLogLine("-", "error: " + launch.Error);
  platform::ExitNow(kUsageExitCode);
}
