#include "soap/SoapEnvelopeTree.h"

#include <libxml/tree.h>

#include <algorithm>
#include <cstring>

#include "runtime/Text.h"
#include "soap/SoapEnvelope.h"

namespace soap_envelope {

namespace {

struct TDocFree {
  void operator()(xmlDoc* d) const { xmlFreeDoc(d); }
};
using TDocPtr = std::unique_ptr<xmlDoc, TDocFree>;

}  // namespace

std::string XmlTrim(const std::string& s) {
  const char* ws = " \t\r\n";
  size_t b = s.find_first_not_of(ws);
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(ws) - b + 1);
}

std::string Str(const xmlChar* s) { return s ? reinterpret_cast<const char*>(s) : ""; }
bool Same(const xmlChar* a, const char* b) {
  return std::strcmp(a ? reinterpret_cast<const char*>(a) : "", b) == 0;
}

TEnvelopeTree::TEnvelopeTree() = default;
TEnvelopeTree::~TEnvelopeTree() = default;

bool TEnvelopeTree::Attribute(const TElement* n, const char* href, const char* name,
                              std::string& value) const {
  const uint32_t number = NumberOf(n);
  auto it = std::lower_bound(FAttributes.begin(), FAttributes.end(), number,
                             [](const TAttributeValue& a, uint32_t e) { return a.Element < e; });
  for (; it != FAttributes.end() && it->Element == number; ++it) {
    if (!Same(it->Name, name)) continue;
    if (href ? !Same(it->Href, href) : it->Href != nullptr) continue;
    value = FAttributeText.substr(it->ValueStart, it->ValueLength);
    return true;
  }
  return false;
}

uint32_t TEnvelopeTree::HrefNumber(const xmlChar* href) {
  // The parser hands over the same interned text for each use of a namespace.
  if (!href) return 0;
  if (href == FHrefs.back()) return static_cast<uint32_t>(FHrefs.size() - 1);
  auto [it, added] = FHrefNumbers.try_emplace(href, static_cast<uint32_t>(FHrefs.size()));
  if (added) {
    if (FHrefs.size() >= kHasChildren) throw EOutOfMemory("Out of memory");
    FHrefs.push_back(href);
  }
  return it->second;
}

void TEnvelopeTree::Stop(void* ctx) {
  Of(ctx).FFailure = std::current_exception();
  xmlStopParser(static_cast<xmlParserCtxt*>(ctx));
}

void TEnvelopeTree::StartElement(void* ctx, const xmlChar* localname, const xmlChar*,
                                 const xmlChar* uri, int, const xmlChar**, int attributeCount, int,
                                 const xmlChar** attributes) try {
  TEnvelopeTree& t = Of(ctx);
  if (t.FFailure) return;
  if (t.FText.size() > UINT32_MAX / 2 || t.FAttributeText.size() > UINT32_MAX / 2 ||
      t.FElements.size() >= UINT32_MAX / 2)
    throw EOutOfMemory("Out of memory");
  const auto number = static_cast<uint32_t>(t.FElements.size());
  t.FElements.push_back(
      {localname, t.HrefNumber(uri), 0, static_cast<uint32_t>(t.FText.size()), 0});
  for (int i = 0; i < attributeCount; ++i) {
    const xmlChar** a = attributes + 5 * i;  // local name, prefix, URI, value, value end
    const auto* begin = reinterpret_cast<const char*>(a[3]);
    const auto* end = reinterpret_cast<const char*>(a[4]);
    const auto start = static_cast<uint32_t>(t.FAttributeText.size());
    // Without entity replacement the parser hands over a "&" as "&#38;".
    for (const char* p = begin; p < end; ++p) {
      if (*p == '&' && end - p >= 5 && std::memcmp(p, "&#38;", 5) == 0) {
        t.FAttributeText += '&';
        p += 4;
      } else {
        t.FAttributeText += *p;
      }
    }
    t.FAttributes.push_back(
        {number, start, static_cast<uint32_t>(t.FAttributeText.size() - start), a[0], a[2]});
  }
  if (!t.FOpen.empty()) {
    uint32_t& last = t.FLast.back();
    if (last)
      t.FElements[last].Next = number;
    else
      t.FElements[t.FOpen.back()].HrefAndChildren |= kHasChildren;
    last = number;
  }
  t.FOpen.push_back(number);
  t.FLast.push_back(0);
} catch (...) {
  Stop(ctx);
}

void TEnvelopeTree::EndElement(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*) {
  TEnvelopeTree& t = Of(ctx);
  if (t.FOpen.empty()) return;
  t.FElements[t.FOpen.back()].TextEnd = static_cast<uint32_t>(t.FText.size());
  t.FOpen.pop_back();
  t.FLast.pop_back();
}

void TEnvelopeTree::Characters(void* ctx, const xmlChar* ch, int len) try {
  TEnvelopeTree& t = Of(ctx);
  if (!t.FOpen.empty() && !t.FFailure) t.FText.append(reinterpret_cast<const char*>(ch), len);
} catch (...) {
  Stop(ctx);
}

void TEnvelopeTree::Parse(const std::string& text) {
  static const bool initialised = (xmlInitParser(), true);
  (void)initialised;
  // Every element starts with "<" and takes at least four bytes ("<a/>"): the
  // elements' array is sized once, and only the part used is ever written.
  const size_t starts = static_cast<size_t>(std::count(text.begin(), text.end(), '<'));
  FElements.reserve(std::min(starts, text.size() / 4 + 1));
  FContext.reset(xmlNewParserCtxt());
  if (!FContext) throw EOutOfMemory("Out of memory");
  // The document itself and a document type declaration are still built by the
  // parser's own callbacks; elements and text come here.
  xmlSAXHandler* sax = FContext->sax;
  sax->startElementNs = StartElement;
  sax->endElementNs = EndElement;
  sax->characters = Characters;
  sax->ignorableWhitespace = Characters;
  sax->cdataBlock = Characters;
  sax->reference = Reference;
  sax->comment = nullptr;
  sax->processingInstruction = nullptr;
  FContext->_private = this;
  constexpr int kOptions = XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING;
  TDocPtr doc(xmlCtxtReadMemory(FContext.get(), text.data(), static_cast<int>(text.size()), nullptr,
                                nullptr, kOptions));
  if (FFailure) std::rethrow_exception(FFailure);
  if (!doc) {
    const xmlError* err = xmlCtxtGetLastError(FContext.get());
    std::string msg = err && err->message ? XmlTrim(err->message) : "unreadable";
    throw ESoapReadError("Invalid SOAP envelope: " + msg +
                         (err ? " (line " + IntToStr(err->line) + ")" : ""));
  }
  // A SOAP message carries no document type declaration; refusing one also keeps
  // entity expansion out of reach.
  if (doc->intSubset || doc->extSubset)
    throw ESoapReadError("Invalid SOAP envelope: a document type declaration is not allowed");
}

}  // namespace soap_envelope
