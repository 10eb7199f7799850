// What one request brings to the terminal session's calls. The web module's
// handler makes one for each request (an operator's tool one for its run) and
// passes it down by reference; no object that outlives the request keeps it.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace service {

struct TRequestContext {
  // The command ("q"), named in every line the request writes.
  std::string Command;
  // The order's GUID once read from the body; empty before and for the lists.
  std::string Guid;
  // The address the request came from; empty when unknown.
  std::string RemoteAddr;
  // When the request began (platform::SteadyMilliseconds); its deadline counts
  // from here. 0 for a tool, which has no deadline.
  int64_t Start = 0;
  // Where the request's lines go, as (command, text): the request's channel
  // (standard error of a CGI process, the request's error stream in FastCGI),
  // or a tool's standard error.
  std::function<void(const std::string& command, const std::string& text)> Log;

  // A line under the command (a warning, say).
  void LogLine(const std::string& text) const;
  // The failure line of an answer that reports a failure: "failure from
  // ADDRESS[ order GUID]: MESSAGE". Never raises.
  void LogFailure(const std::string& message) const;
};

// The context of an operator's tool: no command, no deadline, lines to the
// process's standard error.
TRequestContext ToolContext();

}  // namespace service
