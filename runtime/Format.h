// printf-like formatting of messages: "%" [index ":"] ["-"] [width] ["." precision]
// type, with types d, u, x, s, f, e, g, n and "%%" for one "%". An index selects the
// argument and the following directives go on from there. A directive that does not
// fit its argument raises EConvertError.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <variant>

class TFormatArg {
 public:
  TFormatArg(int v) : FValue(int64_t{v}) {}
  TFormatArg(unsigned v) : FValue(int64_t{v}) {}
  TFormatArg(long v) : FValue(int64_t{v}) {}
  TFormatArg(long long v) : FValue(int64_t{v}) {}
  TFormatArg(unsigned long v) : FValue(static_cast<int64_t>(v)) {}
  TFormatArg(unsigned long long v) : FValue(static_cast<int64_t>(v)) {}
  TFormatArg(double v) : FValue(v) {}
  TFormatArg(const char* v) : FValue(std::string(v)) {}
  TFormatArg(std::string v) : FValue(std::move(v)) {}
  TFormatArg(std::string_view v) : FValue(std::string(v)) {}

  const std::variant<int64_t, double, std::string>& Value() const { return FValue; }

 private:
  std::variant<int64_t, double, std::string> FValue;
};

std::string Format(std::string_view format, std::initializer_list<TFormatArg> args);
