// A CGI channel over a map of variables, a body and a captured output; reads
// hand out at most ReadLimit bytes at a time, as a pipe may, and with FailAtEnd
// a read past the body fails instead of reporting the end.
#pragma once

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "cgi/CGIHTTP.h"

class TFakeChannel : public ICGIChannel {
 public:
  std::map<std::string, std::string> Env;
  std::string Input;
  std::string Output;
  size_t ReadLimit = 7;
  size_t Reads = 0;
  size_t LargestRead = 0;
  bool FailAtEnd = false;

  std::string GetEnv(const std::string& name) override {
    auto it = Env.find(name);
    return it == Env.end() ? "" : it->second;
  }
  long Read(void* buffer, long count) override {
    ++Reads;
    LargestRead = std::max(LargestRead, static_cast<size_t>(count));
    if (FailAtEnd && FPos == Input.size()) return -1;
    size_t n = std::min({static_cast<size_t>(count), ReadLimit, Input.size() - FPos});
    std::memcpy(buffer, Input.data() + FPos, n);
    FPos += n;
    return static_cast<long>(n);
  }
  long Write(const void* buffer, long count) override {
    Output.append(static_cast<const char*>(buffer), static_cast<size_t>(count));
    return count;
  }

 private:
  size_t FPos = 0;
};
