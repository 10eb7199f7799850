// The CGI program: serves the one request the web server hands it, then leaves.
#include "cgi/CGIApp.h"
#include "platform/Platform.h"
#include "service/Unit1.h"

int main() {
  // A termination request must not cut a request short, nor let a library's own
  // handler shut the client library down under it.
  platform::BlockTerminationSignal();
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
