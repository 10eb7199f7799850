// The operator's tools: modes of the program run by hand in its working folder,
// never under a web server. "dorvana --help" lists them.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "cgi/CommandLine.h"

class TDorvanaWebInterface;

namespace service {

// Where a tool's lines go: Out for its report, Err for progress and for lines
// about the command itself. Each call is one line, given without its LF.
struct TToolOutput {
  std::function<void(const std::string&)> Out;
  std::function<void(const std::string&)> Err;
};
// Standard output and standard error.
TToolOutput StandardToolOutput();

// Exit codes of the tools.
inline constexpr int kToolOk = 0;
inline constexpr int kToolFailed = 1;              // a problem, or an order not imported
inline constexpr int kToolWarnings = 2;            // --check: warnings but no problem
inline constexpr int kToolUsage = kUsageExitCode;  // the command line itself is wrong

// True when the process runs as a tool: it has arguments (other than the FastCGI
// server's, which main.cpp takes first) and no CGI variable is set. A web server
// may pass a query without "=" as arguments; a request is always served as a
// request. An option no tool knows gets a usage line.
bool IsOperatorCommand(int argc, const char* const* argv);
// Runs the tool the arguments name (program name excluded); returns the exit code.
int RunOperatorCommand(const std::vector<std::string>& args, const TToolOutput& out);
int RunOperatorCommand(int argc, const char* const* argv);

// The tools, each over a module built for it, run in the working folder.
int RunCheck(TDorvanaWebInterface& module, const TToolOutput& out);
int RunOrders(TDorvanaWebInterface& module, const std::vector<std::string>& args,
              const TToolOutput& out);
int RunReplay(TDorvanaWebInterface& module, const std::vector<std::string>& args,
              const TToolOutput& out);
int RunRotate(TDorvanaWebInterface& module, const std::vector<std::string>& args,
              const TToolOutput& out);

// Connects the module as a request does. Empty on success, else the line a
// terminal would get (or, without a settings file, one that says so).
std::string ConnectAsRequest(TDorvanaWebInterface& module);

}  // namespace service
