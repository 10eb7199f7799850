#include "runtime/Text.h"

#include <array>
#include <limits>

#include "runtime/Exception.h"
#include "runtime/Format.h"

namespace {

bool Trimmed(char c) { return static_cast<unsigned char>(c) <= 0x20; }

// Unicode values of the bytes 0x80 to 0xFF.
constexpr std::array<uint16_t, 128> kCp1251High = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

uint16_t Cp1251Char(unsigned char b) {
  if (b < 0x80) return b;
  if (b >= 0xC0) return static_cast<uint16_t>(0x0410 + (b - 0xC0));  // А..я
  return kCp1251High[b - 0x80];
}

}  // namespace

std::string UpperCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = UpperAscii(c);
  return r;
}

std::string LowerCase(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = LowerAscii(c);
  return r;
}

int CompareText(std::string_view a, std::string_view b) {
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(UpperAscii(a[i]));
    const auto y = static_cast<unsigned char>(UpperAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool SameText(std::string_view a, std::string_view b) {
  return a.size() == b.size() && CompareText(a, b) == 0;
}

bool StartsText(std::string_view prefix, std::string_view s) {
  return s.size() >= prefix.size() && SameText(s.substr(0, prefix.size()), prefix);
}

std::string TrimLeft(std::string_view s) {
  size_t b = 0;
  while (b < s.size() && Trimmed(s[b])) ++b;
  return std::string(s.substr(b));
}

std::string_view TrimView(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && Trimmed(s[b])) ++b;
  while (e > b && Trimmed(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string Trim(std::string_view s) { return std::string(TrimView(s)); }

std::string BlankControls(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (IsControlByte(c)) c = ' ';
  return out;
}

std::string IntToStr(int64_t value) { return std::to_string(value); }

int DigitValue(char c, int base) {
  if (c >= '0' && c <= '9') return c - '0';
  if (base == 16 && c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (base == 16 && c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool TryStrToInt(std::string_view s, int32_t& value) {
  size_t i = 0;
  while (i < s.size() && s[i] == ' ') ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '+' || s[i] == '-')) negative = s[i++] == '-';
  int base = 10;
  if (i < s.size() && s[i] == '$') {
    base = 16, ++i;
  } else if (i < s.size() && (s[i] == 'x' || s[i] == 'X')) {
    base = 16, ++i;
  } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
    base = 16, i += 2;
  }
  if (i >= s.size()) return false;
  int64_t v = 0;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    const int d = DigitValue(c, base);
    if (d < 0) return false;
    v = v * base + d;
    if (v > int64_t{1} << 32) return false;
  }
  if (negative) v = -v;
  if (base == 16 && v > std::numeric_limits<int32_t>::max() && v <= 0xFFFFFFFFLL)
    v -= int64_t{1} << 32;  // a hexadecimal text may name all 32 bits
  if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max())
    return false;
  value = static_cast<int32_t>(v);
  return true;
}

int32_t StrToInt(std::string_view s) {
  int32_t v;
  if (!TryStrToInt(s, v))
    throw EConvertError(Format("'%s' is not a valid integer value", {std::string(s)}));
  return v;
}

std::string Cp1251ToUtf8(std::string_view s) {
  std::string r;
  AppendCp1251ToUtf8(r, s);
  return r;
}

void AppendCp1251ToUtf8(std::string& out, std::string_view s, bool escapeMarkup) {
  out.reserve(out.size() + s.size() * 2);
  for (char ch : s) {
    const uint16_t u = Cp1251Char(static_cast<unsigned char>(ch));
    if (u < 0x80) {
      const char* entity = escapeMarkup ? MarkupEntity(static_cast<char>(u)) : nullptr;
      if (entity) {
        out += entity;
      } else {
        out += static_cast<char>(u);
      }
    } else if (u < 0x800) {
      out += static_cast<char>(0xC0 | (u >> 6));
      out += static_cast<char>(0x80 | (u & 0x3F));
    } else {
      out += static_cast<char>(0xE0 | (u >> 12));
      out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (u & 0x3F));
    }
  }
}

std::string EscapeMarkup(std::string_view s, bool quote) {
  std::string r;
  AppendEscapedMarkup(r, s, quote);
  return r;
}

void AppendEscapedMarkup(std::string& out, std::string_view s, bool quote) {
  out.reserve(out.size() + s.size());
  for (char c : s) {
    if (const char* entity = MarkupEntity(c, quote))
      out += entity;
    else
      out += c;
  }
}
