#include "runtime/Format.h"

#include <cstdio>
#include <vector>

#include "runtime/Exception.h"

namespace {

[[noreturn]] void Invalid(std::string_view format) {
  throw EConvertError("Format '" + std::string(format) + "' invalid or incompatible with argument");
}

void Pad(std::string& out, const std::string& text, int width, bool left) {
  const int fill = width - static_cast<int>(text.size());
  if (fill > 0 && !left) out.append(fill, ' ');
  out += text;
  if (fill > 0 && left) out.append(fill, ' ');
}

std::string Printf(const char* pattern, double v) {
  char buf[512];
  std::snprintf(buf, sizeof buf, pattern, v);
  return buf;
}

}  // namespace

std::string Format(std::string_view format, std::initializer_list<TFormatArg> args) {
  const std::vector<TFormatArg> argv(args);
  std::string out;
  out.reserve(format.size() + 32);
  size_t argIndex = 0;
  size_t i = 0;
  const size_t n = format.size();
  auto number = [&](int& value) {
    bool any = false;
    value = 0;
    while (i < n && format[i] >= '0' && format[i] <= '9') {
      value = value * 10 + (format[i++] - '0');
      any = true;
      if (value > 100000) Invalid(format);
    }
    return any;
  };
  while (i < n) {
    const char c = format[i++];
    if (c != '%') {
      out += c;
      continue;
    }
    if (i >= n) Invalid(format);
    if (format[i] == '%') {
      out += '%';
      ++i;
      continue;
    }
    int value;
    if (number(value) && i < n && format[i] == ':') {
      argIndex = static_cast<size_t>(value);
      ++i;
      number(value);
    } else if (i < n && format[i] == ':') {
      Invalid(format);
    }
    // What number() read, if anything, was the width unless a "-" comes first.
    bool left = false;
    int width = value;
    if (i < n && format[i] == '-') {
      left = true;
      ++i;
      number(width);
    }
    int precision = -1;
    if (i < n && format[i] == '.') {
      ++i;
      number(precision);
    }
    if (i >= n) Invalid(format);
    const char type = static_cast<char>(format[i++] | 0x20);
    if (argIndex >= argv.size()) Invalid(format);
    const auto& arg = argv[argIndex++].Value();
    std::string text;
    switch (type) {
      case 'd':
      case 'u':
      case 'x': {
        const int64_t* v = std::get_if<int64_t>(&arg);
        if (!v) Invalid(format);
        if (type == 'x') {
          char buf[32];
          std::snprintf(buf, sizeof buf, "%llX",
                        static_cast<unsigned long long>(static_cast<uint32_t>(*v)));
          text = buf;
        } else if (type == 'u') {
          text = std::to_string(static_cast<uint32_t>(*v));
        } else {
          text = std::to_string(*v);
        }
        if (precision > static_cast<int>(text.size()) - (text[0] == '-')) {
          const bool neg = text[0] == '-';
          std::string digits = neg ? text.substr(1) : text;
          digits.insert(0, precision - digits.size(), '0');
          text = neg ? "-" + digits : digits;
        }
        break;
      }
      case 's': {
        const std::string* v = std::get_if<std::string>(&arg);
        if (!v) Invalid(format);
        text = precision >= 0 ? v->substr(0, precision) : *v;
        break;
      }
      case 'f':
      case 'e':
      case 'g':
      case 'n': {
        double d;
        if (const double* v = std::get_if<double>(&arg))
          d = *v;
        else if (const int64_t* iv = std::get_if<int64_t>(&arg))
          d = static_cast<double>(*iv);
        else
          Invalid(format);
        const int p = precision < 0 ? (type == 'g' ? 15 : 2) : precision;
        const std::string pattern = "%." + std::to_string(p) + (type == 'n' ? 'f' : type);
        text = Printf(pattern.c_str(), d);
        break;
      }
      default:
        Invalid(format);
    }
    Pad(out, text, width, left);
  }
  return out;
}
