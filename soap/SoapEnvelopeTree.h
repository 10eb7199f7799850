// The elements of a SOAP request as the envelope reader sees them, built by the
// XML parser's callbacks instead of the parser's own tree, which costs two nodes
// of over 100 bytes for an item such as <item>1</item>. Used by the envelope
// reader only.
#pragma once

#include <libxml/parser.h>

#include <cstdint>
#include <deque>
#include <exception>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

namespace soap_envelope {

// One element: 24 bytes. Its local name is the parser's own interned text; its
// namespace a number in the tree's table; its text a range of the tree's text,
// which holds every character of the document in order, so that the range
// between an element's start and end is the text of all its descendants.
// Elements are numbered in document order: an element's first child, when it has
// one, is the element after it.
struct TElement {
  const xmlChar* Name;
  uint32_t HrefAndChildren;  // the namespace's number (0: none); the top bit: has children
  uint32_t Next;             // the next sibling's number; 0 for none (0 is the root)
  uint32_t TextStart;
  uint32_t TextEnd;
};

// Shared with the reader: XML whitespace removed at both ends; a parser text
// that may be null, as a text and compared with one.
std::string XmlTrim(const std::string& s);
std::string Str(const xmlChar* s);
bool Same(const xmlChar* a, const char* b);

// The tree of one request. Keeps the parser context, whose dictionary holds the
// names.
class TEnvelopeTree {
 public:
  TEnvelopeTree();
  ~TEnvelopeTree();

  // Raises ESoapReadError for a text the parser refuses or one with a document
  // type declaration.
  void Parse(const std::string& text);

  const TElement* Root() const { return FElements.empty() ? nullptr : &FElements.front(); }
  const TElement* FirstChild(const TElement* n) const {
    return n->HrefAndChildren & kHasChildren ? &FElements[NumberOf(n) + 1] : nullptr;
  }
  const TElement* Next(const TElement* n) const { return n->Next ? &FElements[n->Next] : nullptr; }
  // The namespace URI; null for none.
  const xmlChar* Href(const TElement* n) const {
    return FHrefs[n->HrefAndChildren & ~kHasChildren];
  }
  std::string Content(const TElement* n) const {
    return FText.substr(n->TextStart, n->TextEnd - n->TextStart);
  }
  // The value of the attribute with that local name and namespace (null: none).
  bool Attribute(const TElement* n, const char* href, const char* name, std::string& value) const;

 private:
  static constexpr uint32_t kHasChildren = 0x80000000;
  struct TAttributeValue {
    uint32_t Element;  // its element's number: attributes are kept in that order
    uint32_t ValueStart;
    uint32_t ValueLength;
    const xmlChar* Name;
    const xmlChar* Href;
  };
  struct TCtxtFree {
    void operator()(xmlParserCtxt* c) const { xmlFreeParserCtxt(c); }
  };

  uint32_t NumberOf(const TElement* n) const { return static_cast<uint32_t>(n - FElements.data()); }
  uint32_t HrefNumber(const xmlChar* href);
  static TEnvelopeTree& Of(void* ctx) {
    return *static_cast<TEnvelopeTree*>(static_cast<xmlParserCtxt*>(ctx)->_private);
  }
  static void StartElement(void* ctx, const xmlChar* localname, const xmlChar*, const xmlChar* uri,
                           int, const xmlChar**, int attributeCount, int,
                           const xmlChar** attributes);
  static void EndElement(void* ctx, const xmlChar*, const xmlChar*, const xmlChar*);
  static void Characters(void* ctx, const xmlChar* ch, int len);
  static void Reference(void*, const xmlChar*) {}
  // A failure inside a callback stops the parser and is raised once it returns.
  static void Stop(void* ctx);

  std::unique_ptr<xmlParserCtxt, TCtxtFree> FContext;
  std::vector<TElement> FElements;  // sized by Parse before the parser runs
  std::deque<TAttributeValue> FAttributes;
  std::vector<const xmlChar*> FHrefs{nullptr};
  std::unordered_map<const xmlChar*, uint32_t> FHrefNumbers;
  std::vector<uint32_t> FOpen;  // the open elements, innermost last
  std::vector<uint32_t> FLast;  // the last child of each open element, or 0
  std::string FText;
  std::string FAttributeText;
  std::exception_ptr FFailure;
};

}  // namespace soap_envelope
