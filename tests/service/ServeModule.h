#pragma once

#include <cstddef>
#include <string>

#include "cgi/CGIApp.h"
#include "service/Unit1.h"
#include "tests/cgi/FakeChannel.h"

// A fake channel with an error stream of its own, as a FastCGI request has:
// the lines the request writes for the web server's log land in Errors.
struct TLoggingChannel : TFakeChannel {
  std::string Errors;
  void WriteErrorLine(const std::string& line) override { Errors += line; }
};

// Serves one request with the service module, in this process, through the
// channel given, and returns the whole CGI answer the program writes. A
// non-empty body goes with its CONTENT_LENGTH; the body arrives in pieces of at
// most `readLimit` bytes.
inline std::string ServeModuleOn(TFakeChannel& channel, const std::string& method,
                                 const std::string& query, const std::string& body = "",
                                 const std::string& pathInfo = "", size_t readLimit = 7) {
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

// The same through a channel of its own.
inline std::string ServeModule(const std::string& method, const std::string& query,
                               const std::string& body = "", const std::string& pathInfo = "",
                               size_t readLimit = 7) {
  TFakeChannel channel;
  return ServeModuleOn(channel, method, query, body, pathInfo, readLimit);
}
