#include "xml/NativeXml.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "runtime/Format.h"
#include "runtime/Text.h"

namespace {

bool IsWhitespace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }
bool IsQuote(char c) { return c == '\'' || c == '"'; }
bool IsAboveBlank(char c) { return static_cast<unsigned char>(c) > 0x20; }

std::string_view TrimWhitespace(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && IsWhitespace(s[b])) ++b;
  while (e > b && IsWhitespace(s[e - 1])) --e;
  return s.substr(b, e - b);
}

// Splits a tag's text into words at whitespace outside quoted runs. A word that
// begins with "=" belongs to the word before it, and so does a quoted word after
// a word holding "=": `a = "b c"` is the one word `a="b c"`.
std::vector<std::string> SplitWords(std::string_view text) {
  std::vector<std::string> words;
  // Whether the last word holds "=": kept as words grow, never searched again.
  bool lastHasEquals = false;
  text = TrimWhitespace(text);
  size_t i = 0;
  while (i < text.size()) {
    while (i < text.size() && IsWhitespace(text[i])) ++i;
    if (i >= text.size()) break;
    const size_t start = i;
    char quote = 0;
    for (; i < text.size(); ++i) {
      const char c = text[i];
      if (quote) {
        if (c == quote) quote = 0;
      } else if (IsQuote(c)) {
        quote = c;
      } else if (IsWhitespace(c)) {
        break;
      }
    }
    std::string_view word = text.substr(start, i - start);
    const bool hasEquals = word.find('=') != std::string_view::npos;
    if (!words.empty() && (word.front() == '=' || (IsQuote(word.front()) && lastHasEquals))) {
      words.back() += word;
      lastHasEquals = lastHasEquals || hasEquals;
    } else {
      words.emplace_back(word);
      lastHasEquals = hasEquals;
    }
  }
  return words;
}

// The start markers, longest first so that the first match is the longest one.
// "<" alone matches any node start and makes an element.
struct TMarker {
  const char* Text;
  TXmlNodeKind Kind;
};
constexpr TMarker kMarkers[] = {
    {"<?xml-stylesheet", nkStyleSheet},
    {"<!NOTATION", nkNotationDecl},
    {"<![CDATA[", nkCData},
    {"<!DOCTYPE", nkDocType},
    {"<!ELEMENT", nkElementDecl},
    {"<!ATTLIST", nkAttListDecl},
    {"<!ENTITY", nkEntityDecl},
    {"<?xml", nkDeclaration},
    {"<!--", nkComment},
    {"<!", nkOtherMarkup},
    {"<?", nkOtherInstruction},
    {"<", nkElement},
};

}  // namespace

// Reads one text into a document's tree: a byte cursor over the text, moving
// forward only, except for the step back to the "<" that starts a child node.
// Nodes are numbered in the order they start; each parent links its children.
class TXmlReader {
 public:
  explicit TXmlReader(TNativeXml* document, std::string_view text)
      : FDocument(document), FText(text) {}

  bool AtEnd() const { return FPos >= FText.size(); }

  // Reads one node at the cursor. Returns its number, or 0 for stray text, which
  // makes no node.
  uint32_t ReadNode(int depth);
  TXmlNode& Node(uint32_t number) { return FDocument->Node(number); }
  // Drops the newest node when it came out empty; true when it was dropped.
  bool DropIfEmpty(uint32_t number);

 private:
  void SkipWhitespace() {
    while (FPos < FText.size() && IsWhitespace(FText[FPos])) ++FPos;
  }
  bool LookingAt(std::string_view s) const { return FText.substr(FPos).starts_with(s); }

  // The text up to the end marker, which is consumed but not returned. Inside a
  // quoted run the marker is not recognised when quotes count. False when the text
  // ends first; the cursor is then at the end.
  bool ReadUpTo(std::string_view marker, bool quotesCount, std::string_view& result);

  uint32_t NewNode(TXmlNodeKind kind);
  void SetFixedName(uint32_t node, TNativeXml::TFixedName name) {
    Node(node).FName = FDocument->FFixedNames[name];
  }
  // A name in the store, or last when that holds the same name.
  uint32_t StoreName(std::string_view name, uint32_t& last);
  void SetValue(uint32_t node, std::string_view value) {
    Node(node).FValue = FDocument->StoreText(value);
  }
  std::string NameOf(uint32_t node) { return std::string(Node(node).Name()); }
  // Appends child to parent's children; last is the one before it, or 0.
  void AddChild(uint32_t parent, uint32_t& last, uint32_t child) {
    ++FDocument->ExtraOf(Node(parent)).ChildCount;
    if (last) Node(last).FNext = child;
    last = child;
  }

  // Reads a start tag or a declaration; true when an element has content to read.
  bool ReadTag(uint32_t node);
  void ReadDeclarationBody(uint32_t node);
  void ReadDocType(uint32_t node, int depth);
  void ReadContent(uint32_t node, int depth);
  // Character data collected inside node; false when it is only blanks.
  bool Flush(uint32_t node, std::string_view collected, bool& valueFromText, uint32_t& last);
  [[noreturn]] static void Fail(const char* format, const std::string& name) {
    throw EFilerError(Format(format, {name}));
  }

  TNativeXml* FDocument;
  std::string_view FText;
  size_t FPos = 0;
  // The store's texts of the last element name and the last attribute name:
  // repeated names are stored once.
  uint32_t FLastName = 0;
  uint32_t FLastAttributeName = 0;
};

bool TXmlReader::ReadUpTo(std::string_view marker, bool quotesCount, std::string_view& result) {
  const size_t start = FPos;
  char quote = 0;
  for (size_t i = start; i < FText.size(); ++i) {
    const char c = FText[i];
    if (quote) {
      if (c == quote) quote = 0;
    } else if (quotesCount && IsQuote(c)) {
      quote = c;
    } else if (c == marker.front() && FText.substr(i).starts_with(marker)) {
      result = FText.substr(start, i - start);
      FPos = i + marker.size();
      return true;
    }
  }
  FPos = FText.size();
  result = {};
  return false;
}

uint32_t TXmlReader::NewNode(TXmlNodeKind kind) {
  TNativeXml& d = *FDocument;
  const uint32_t number = d.FNextNode;
  const size_t chunk = number / TNativeXml::kChunkSlots;
  if (chunk == d.FChunks.size()) {
    const size_t count = std::clamp<size_t>(chunk, 1, 8);
    if (chunk + count > UINT32_MAX / TNativeXml::kChunkSlots)
      throw EFilerError("Too many nodes in xml");
    // Left unwritten: only the nodes made touch the chunks' pages.
    d.FSlabs.push_back(std::make_unique_for_overwrite<TNativeXml::TNodeChunk[]>(count));
    for (size_t i = 0; i < count; ++i) {
      TNativeXml::TNodeChunk& c = d.FSlabs.back()[i];
      c.Document = FDocument;
      c.Number = static_cast<uint32_t>(chunk + i);
      d.FChunks.push_back(&c);
    }
  }
  d.FNextNode = TNativeXml::After(number);
  TXmlNode& node = Node(number);
  node.FName = 0;
  node.FValue = 0;
  node.FNext = 0;
  node.FKindAndExtra = uint32_t{kind} << 28 | TXmlNode::kNoExtra;
  return number;
}

uint32_t TXmlReader::StoreName(std::string_view name, uint32_t& last) {
  if (name.empty()) return 0;
  if (last == 0 || FDocument->StoredText(last) != name) last = FDocument->StoreText(name);
  return last;
}

bool TXmlReader::DropIfEmpty(uint32_t number) {
  if (!Node(number).IsEmpty()) return false;
  FDocument->FNextNode = number;  // an empty node has no descendants: it is the newest
  return true;
}

uint32_t TXmlReader::ReadNode(int depth) {
  SkipWhitespace();
  if (AtEnd()) return 0;
  if (FText[FPos] != '<') {
    ++FPos;
    return 0;
  }
  TXmlNodeKind kind = nkElement;
  for (const TMarker& m : kMarkers) {
    if (LookingAt(m.Text)) {
      kind = m.Kind;
      FPos += std::strlen(m.Text);
      break;
    }
  }
  const uint32_t node = NewNode(kind);
  std::string_view body;
  switch (kind) {
    case nkElement:
    case nkDeclaration:
    case nkStyleSheet:
      if (ReadTag(node) && kind == nkElement) ReadContent(node, depth);
      break;
    case nkComment:
      SetFixedName(node, TNativeXml::fnComment);
      if (ReadUpTo("-->", false, body)) SetValue(node, body);
      break;
    case nkCData:
      SetFixedName(node, TNativeXml::fnCData);
      if (ReadUpTo("]]>", false, body)) SetValue(node, body);
      break;
    case nkOtherMarkup:
      SetFixedName(node, TNativeXml::fnSpecial);
      if (ReadUpTo(">", false, body)) SetValue(node, body);
      break;
    case nkOtherInstruction:
      SetFixedName(node, TNativeXml::fnSpecial);
      if (ReadUpTo("?>", false, body)) SetValue(node, body);
      break;
    case nkElementDecl:
    case nkAttListDecl:
    case nkEntityDecl:
    case nkNotationDecl:
      ReadDeclarationBody(node);
      break;
    case nkDocType:
      ReadDocType(node, depth);
      break;
    case nkCharData:
      break;
  }
  return node;
}

bool TXmlReader::ReadTag(uint32_t node) {
  const TXmlNodeKind kind = Node(node).NodeKind();
  std::string_view tag;
  ReadUpTo(kind == nkElement ? ">" : "?>", true, tag);
  bool hasContent = true;
  if (kind == nkElement && tag.ends_with('/')) {
    tag.remove_suffix(1);
    hasContent = false;
  }
  std::vector<std::string> words = SplitWords(tag);
  size_t first = 0;
  switch (kind) {
    case nkElement:
      if (words.empty()) throw EFilerError("Missing element name");
      Node(node).FName = StoreName(words[0], FLastName);
      first = 1;
      break;
    case nkDeclaration:
      SetFixedName(node, TNativeXml::fnXml);
      hasContent = false;
      break;
    default:
      SetFixedName(node, TNativeXml::fnStyleSheet);
      SetValue(node, Trim(tag));
      hasContent = false;
      break;
  }
  if (first < words.size()) {
    TNativeXml::TExtra& extra = FDocument->ExtraOf(Node(node));
    extra.AttributeStart = static_cast<uint32_t>(FDocument->FAttributes.size());
    for (size_t i = first; i < words.size(); ++i) {
      const std::string_view w = words[i];
      const size_t eq = w.find('=');
      const uint32_t name = StoreName(w.substr(0, eq), FLastAttributeName);
      const uint32_t value =
          eq == std::string_view::npos ? 0 : FDocument->StoreText(w.substr(eq + 1));
      FDocument->FAttributes.push_back({name, value});
    }
    if (words.size() - first >= (1u << 30)) throw EFilerError("Document too large");
    extra.AttributeCount = static_cast<uint32_t>(words.size() - first) & 0x3FFFFFFF;
  }
  return hasContent;
}

namespace {

// The words after the first, one to a line, trimmed.
std::string JoinRest(const std::vector<std::string>& words) {
  std::string r;
  for (size_t i = 1; i < words.size(); ++i) {
    if (i > 1) r += "\r\n";
    r += words[i];
  }
  return Trim(r);
}

}  // namespace

void TXmlReader::ReadDeclarationBody(uint32_t node) {
  std::string_view body;
  ReadUpTo(">", true, body);
  const std::vector<std::string> words = SplitWords(body);
  if (!words.empty()) Node(node).FName = FDocument->StoreText(words[0]);
  SetValue(node, JoinRest(words));
}

void TXmlReader::ReadDocType(uint32_t node, int depth) {
  SetFixedName(node, TNativeXml::fnDTD);
  const size_t start = FPos;
  while (FPos < FText.size() && FText[FPos] != '>' && FText[FPos] != '[') ++FPos;
  const std::vector<std::string> words = SplitWords(FText.substr(start, FPos - start));
  if (!words.empty()) Node(node).FName = FDocument->StoreText(words[0]);
  SetValue(node, JoinRest(words));
  if (AtEnd()) return;
  if (FText[FPos++] == '>') return;
  // The internal subset: markup declarations up to "]", then the rest of the tag.
  uint32_t last = 0;
  for (;;) {
    SkipWhitespace();
    if (AtEnd()) return;
    if (FText[FPos] == ']') {
      ++FPos;
      break;
    }
    if (depth + 1 > TNativeXml::kMaxDepth)
      Fail("Markup nested deeper than 1000 levels in element %s", NameOf(node));
    const uint32_t child = ReadNode(depth + 1);
    if (child != 0 && !DropIfEmpty(child)) AddChild(node, last, child);
  }
  std::string_view rest;
  ReadUpTo(">", false, rest);
}

bool TXmlReader::Flush(uint32_t node, std::string_view collected, bool& valueFromText,
                       uint32_t& last) {
  bool text = false;
  for (char c : collected) {
    if (IsAboveBlank(c)) {
      text = true;
      break;
    }
  }
  if (!text) return false;
  // Character data ahead of every child node is the element's own value; it
  // makes no node of its own.
  const TNativeXml::TExtra* extra = FDocument->FindExtra(Node(node));
  if (!valueFromText && (!extra || extra->ChildCount == 0)) {
    SetValue(node, collected);
    valueFromText = true;
    return true;
  }
  const uint32_t child = NewNode(nkCharData);
  if (collected.size() <= sizeof(uint32_t)) {
    // A short run is kept in the node itself.
    std::memcpy(&Node(child).FValue, collected.data(), collected.size());
    Node(child).FName = static_cast<uint32_t>(collected.size());
  } else {
    SetValue(child, collected);
  }
  AddChild(node, last, child);
  return true;
}

void TXmlReader::ReadContent(uint32_t node, int depth) {
  // The character data since the last markup: always one run of the input.
  size_t collectedStart = FPos;
  size_t collectedLength = 0;
  bool valueFromText = false;
  bool childMark = false;
  bool crMark = false;  // a CR after the start of the last child node
  uint32_t last = 0;    // the last child so far
  for (;;) {
    if (AtEnd()) Fail("Missing close tag in element %s", NameOf(node));
    const char c = FText[FPos++];
    if (c != '<') {
      ++collectedLength;
      if (c == '\r') crMark = true;
      continue;
    }
    const size_t lt = FPos - 1;
    SkipWhitespace();
    if (AtEnd()) Fail("Missing data after \"<\" in element %s", NameOf(node));
    if (FText[FPos] == '/') {
      ++FPos;
      std::string_view closeName;
      if (!ReadUpTo(">", true, closeName))
        Fail("Missing \">\" in close tag of element %s", NameOf(node));
      if (!SameText(TrimView(closeName), Node(node).Name()))
        Fail("Incorrect close tag in element %s", NameOf(node));
      break;
    }
    // Markup must follow "<" directly; anything else would be read out of step.
    if (FPos != lt + 1) Fail("Unexpected whitespace after \"<\" in element %s", NameOf(node));
    if (depth + 1 > TNativeXml::kMaxDepth)
      Fail("Elements nested deeper than 1000 levels in element %s", NameOf(node));
    Flush(node, FText.substr(collectedStart, collectedLength), valueFromText, last);
    childMark = true;
    crMark = false;
    FPos = lt;
    const uint32_t child = ReadNode(depth + 1);  // never empty: it starts with "<"
    AddChild(node, last, child);
    collectedStart = FPos;
    collectedLength = 0;
  }
  Flush(node, FText.substr(collectedStart, collectedLength), valueFromText, last);
  // A close tag on a line of its own leaves a line break that is layout, not value:
  // the character data is read without its trailing line breaks and spaces.
  if (childMark && crMark) {
    TNativeXml::TExtra& extra = FDocument->ExtraOf(Node(node));
    extra.TrimText = true;
    extra.ValueFromText = valueFromText;
    for (uint32_t c = TNativeXml::After(node); c; c = Node(c).FNext) {
      TXmlNode& child = Node(c);
      if (child.NodeKind() == nkCharData)
        child.FKindAndExtra = uint32_t{nkCharData} << 28 | TXmlNode::kTrimmed;
    }
  }
}

void TNativeXml::LoadFromText(std::string_view text) {
  Clear();
  try {
    TXmlReader reader(this, text);
    // Each round reads one node; stray bytes between nodes make none, and an
    // empty node is dropped.
    do {
      const uint32_t node = reader.ReadNode(1);
      if (node != 0 && !reader.DropIfEmpty(node)) FRootNodes.push_back(node);
    } while (!reader.AtEnd());
  } catch (...) {
    Clear();
    throw;
  }
  if (!FirstElement()) throw EFilerError("No root element found in xml");
}
