#include "soap/SoapEnvelopeScan.h"

#include <cstring>
#include <vector>

#include "runtime/Text.h"
#include "soap/SoapEnvelope.h"

namespace soap_envelope {

// Refuses, in one pass over the text, a start tag with too many attributes and
// too many namespace declarations in scope at once. Each "=" outside a quoted
// value inside a start tag is one attribute; one whose name begins with "xmlns"
// declares a namespace until the element's end tag. Comments, CDATA sections and
// processing instructions are stepped over whole.
void CheckAttributeCounts(const std::string& text) {
  const size_t n = text.size();
  std::vector<int> declared;  // per open element
  int inScope = 0;
  size_t i = 0;
  while ((i = text.find('<', i)) != std::string::npos) {
    ++i;
    const char* close = text.compare(i, 3, "!--") == 0        ? "-->"
                        : text.compare(i, 8, "![CDATA[") == 0 ? "]]>"
                        : text.compare(i, 1, "?") == 0        ? "?>"
                                                              : nullptr;
    if (close) {
      i = text.find(close, i);
      if (i == std::string::npos) return;  // unterminated: the parser says so
      continue;
    }
    if (i < n && text[i] == '/') {
      if (!declared.empty()) {
        inScope -= declared.back();
        declared.pop_back();
      }
      continue;
    }
    if (i >= n || text[i] == '!') continue;
    int count = 0;
    int namespaces = 0;
    char quote = 0;
    for (; i < n; ++i) {
      const char c = text[i];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (c == '"' || c == '\'') {
        quote = c;
      } else if (c == '=') {
        if (++count > kMaxSoapAttributes)
          throw ESoapReadError("Invalid SOAP envelope: an element carries more than " +
                               IntToStr(kMaxSoapAttributes) + " attributes");
        size_t end = i;
        while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t' || text[end - 1] == '\r' ||
                           text[end - 1] == '\n'))
          --end;
        size_t start = end;
        while (start > 0 && !std::strchr(" \t\r\n\"'<", text[start - 1])) --start;
        if (text.compare(start, 5, "xmlns") == 0) ++namespaces;
      } else if (c == '>' || c == '<') {
        break;
      }
    }
    if (i < n && text[i] == '>' && text[i - 1] == '/') continue;  // no content, no scope
    inScope += namespaces;
    declared.push_back(namespaces);
    if (inScope > kMaxSoapNamespaces)
      throw ESoapReadError("Invalid SOAP envelope: more than " + IntToStr(kMaxSoapNamespaces) +
                           " namespace declarations are in scope");
  }
}

}  // namespace soap_envelope
