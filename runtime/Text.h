// Byte-string helpers: ASCII case, trimming, integer texts and the Windows-1251 to
// UTF-8 conversion of reply values.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

// ASCII letters change case; every other byte stays.
constexpr char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}
constexpr char LowerAscii(char c) {
  return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string UpperCase(std::string_view s);              // ASCII letters only
std::string LowerCase(std::string_view s);              // ASCII letters only
bool SameText(std::string_view a, std::string_view b);  // ASCII case-insensitive
int CompareText(std::string_view a, std::string_view b);
bool StartsText(std::string_view prefix, std::string_view s);

// Removes every leading and trailing byte of value 0x20 or less (blank, control
// characters, NUL); bytes from 0x80 up are never removed.
std::string Trim(std::string_view s);
std::string_view TrimView(std::string_view s);
std::string TrimLeft(std::string_view s);

// Control bytes, below 0x20 and 0x7F: what may not go raw into a status line, a
// log line or a report line. Each of those cleans them here: as a blank
// (BlankControls) or as "\xHH" (AppendEscapedControls in runtime/LogLine.h).
constexpr bool IsControlByte(char c) {
  const auto u = static_cast<unsigned char>(c);
  return u < 0x20 || u == 0x7F;
}
std::string BlankControls(std::string_view s);

std::string IntToStr(int64_t value);
// Decimal, or hexadecimal after "$", "x", "X", "0x" or "0X"; optional leading
// blanks and sign. False for anything else, including a trailing blank, and for a
// value that does not fit 32 bits.
// The value of one decimal digit (base 10) or hexadecimal digit (base 16, either
// letter case); -1 for any other character.
int DigitValue(char c, int base);
bool TryStrToInt(std::string_view s, int32_t& value);
// As TryStrToInt; raises EConvertError "'%s' is not a valid integer value".
int32_t StrToInt(std::string_view s);

// Each Windows-1251 byte as its Unicode character in UTF-8. The one byte the code
// page leaves undefined (0x98) becomes U+FFFD.
std::string Cp1251ToUtf8(std::string_view s);
// Appends the UTF-8 form of `s`; with `escapeMarkup`, "&", "<" and ">" go out
// as their entities (one pass for values written into markup).
void AppendCp1251ToUtf8(std::string& out, std::string_view s, bool escapeMarkup = false);

// The entity that stands for a markup character: "&amp;", "&lt;", "&gt;", and with
// `quote` (attribute values in double quotes) "&quot;"; nullptr for any other byte.
constexpr const char* MarkupEntity(char c, bool quote = false) {
  switch (c) {
    case '&':
      return "&amp;";
    case '<':
      return "&lt;";
    case '>':
      return "&gt;";
    case '"':
      return quote ? "&quot;" : nullptr;
    default:
      return nullptr;
  }
}
// `s` with every character MarkupEntity names replaced by its entity.
std::string EscapeMarkup(std::string_view s, bool quote = false);
void AppendEscapedMarkup(std::string& out, std::string_view s, bool quote = false);
