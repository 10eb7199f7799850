#include "service/RequestContext.h"

#include "cgi/HTTPApp.h"
#include "platform/Platform.h"

namespace service {

void TRequestContext::LogLine(const std::string& text) const {
  if (Log) Log(Command, text);
}

void TRequestContext::LogFailure(const std::string& message) const {
  // Logging must never turn an answer into another failure.
  try {
    LogLine(FailureLogText(RemoteAddr, Guid, message));
  } catch (...) {
  }
}

TRequestContext ToolContext() {
  TRequestContext context;
  context.Log = [](const std::string& command, const std::string& text) {
    platform::WriteLogLine(command, text);
  };
  return context;
}

}  // namespace service
