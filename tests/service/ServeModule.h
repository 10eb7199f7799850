#pragma once

#include <cstddef>
#include <string>

#include "cgi/CGIApp.h"
#include "service/Unit1.h"
#include "tests/cgi/FakeChannel.h"

// Serves one request with the service module, in this process, and returns the
// whole CGI answer the program writes. A non-empty body goes with its
// CONTENT_LENGTH; the body arrives in pieces of at most `readLimit` bytes.
inline std::string ServeModule(const std::string& method, const std::string& query,
                               const std::string& body = "", const std::string& pathInfo = "",
                               size_t readLimit = 7) {
  TFakeChannel channel;
  channel.ReadLimit = readLimit;
  channel.Env = {{"SERVER_PROTOCOL", "HTTP/1.1"},
                 {"REQUEST_METHOD", method},
                 {"QUERY_STRING", query},
                 {"PATH_INFO", pathInfo}};
  if (!body.empty()) channel.Env["CONTENT_LENGTH"] = std::to_string(body.size());
  channel.Input = body;
  {
    TCGIApplication app(channel);
    app.RegisterModuleClass(WebModuleClass<TDorvanaWebInterface>("TDorvanaWebInterface"));
    app.Run();
  }
  return channel.Output;
}
