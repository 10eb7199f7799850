// Runs one request through a component that dispatches itself, with the CGI
// request and response over a fake channel, and keeps what a caller would see.
#pragma once

#include <map>
#include <string>

#include "cgi/CGIHTTP.h"
#include "tests/cgi/FakeChannel.h"

struct TAnswer {
  bool Handled = false;
  int Status = 0;
  std::string ContentType;
  std::string Body;
  std::string Output;  // everything written, head and body
};

template <class TComponentT>
TAnswer Serve(TComponentT& component, std::map<std::string, std::string> env,
              const std::string& body = "") {
  TFakeChannel channel;
  channel.Env = std::move(env);
  channel.Env.emplace("SERVER_PROTOCOL", "HTTP/1.1");
  if (!body.empty()) channel.Env.emplace("CONTENT_LENGTH", std::to_string(body.size()));
  channel.Input = body;
  TCGIRequest request(channel);
  TCGIResponse response(&request);
  TAnswer a;
  a.Handled = component.TakeRequest(nullptr, &request, &response);
  a.Status = response.StatusCode();
  a.ContentType = response.ContentType();
  response.Send();
  a.Output = channel.Output;
  size_t end = a.Output.find("\r\n\r\n");
  a.Body = end == std::string::npos ? "" : a.Output.substr(end + 4);
  return a;
}
