#include "soap/SoapEnvelopeText.h"

#include "runtime/Text.h"

namespace {

bool IsUtf8(const std::string& s) {
  size_t i = 0;
  while (i < s.size()) {
    auto c = static_cast<unsigned char>(s[i]);
    int extra = c < 0x80 ? 0 : c < 0xC2 ? -1 : c < 0xE0 ? 1 : c < 0xF0 ? 2 : c < 0xF5 ? 3 : -1;
    if (extra < 0 || i + extra >= s.size() + (extra == 0 ? 1 : 0)) return false;
    for (int k = 1; k <= extra; ++k)
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    if (extra > 1) {  // overlong forms, surrogates and code points above U+10FFFF
      auto d = static_cast<unsigned char>(s[i + 1]);
      if ((c == 0xE0 && d < 0xA0) || (c == 0xED && d >= 0xA0) || (c == 0xF0 && d < 0x90) ||
          (c == 0xF4 && d >= 0x90))
        return false;
    }
    i += extra + 1;
  }
  return true;
}

std::string Escape(const std::string& text, bool attribute) {
  std::string in = IsUtf8(text) ? text : Cp1251ToUtf8(text);
  std::string out;
  out.reserve(in.size());
  for (char ch : in) {
    // Control characters other than tab and line ends cannot appear in XML 1.0.
    if (const char* entity = MarkupEntity(ch, attribute))
      out += entity;
    else if (static_cast<unsigned char>(ch) < 0x20 && ch != '\t' && ch != '\n' && ch != '\r')
      out += '?';
    else
      out += ch;
  }
  return out;
}

}  // namespace

std::string XmlContent(const std::string& text) { return Escape(text, false); }
std::string XmlAttribute(const std::string& text) { return Escape(text, true); }
