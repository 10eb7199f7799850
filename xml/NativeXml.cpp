#include "xml/NativeXml.h"

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
// Nodes are numbered in the order they start; each knows its parent's number.
class TXmlReader {
 public:
  explicit TXmlReader(TNativeXml* document, std::string_view text)
      : FDocument(document), FText(text) {}

  bool AtEnd() const { return FPos >= FText.size(); }

  // Reads one node at the cursor as a child of parent. Returns its number, or
  // TXmlNode::kNone for stray text, which makes no node.
  uint32_t ReadNode(int depth, uint32_t parent);
  TXmlNode& Node(uint32_t number) { return FDocument->FNodes[number]; }
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

  uint32_t NewNode(TXmlNodeKind kind, uint32_t parent);
  void SetName(uint32_t node, std::string_view name);
  void SetValue(uint32_t node, std::string_view value) {
    Node(node).FValue = FDocument->StoreText(value);
  }
  std::string NameOf(uint32_t node) { return std::string(Node(node).Name()); }
  void AddChild(uint32_t parent) { ++FDocument->ExtraOf(Node(parent)).ChildCount; }

  // Reads a start tag or a declaration; true when an element has content to read.
  bool ReadTag(uint32_t node);
  void ReadDeclarationBody(uint32_t node);
  void ReadDocType(uint32_t node, int depth);
  void ReadContent(uint32_t node, int depth);
  // Character data collected inside node; false when it is only blanks.
  bool Flush(uint32_t node, std::string_view collected, bool& valueFromText);
  [[noreturn]] static void Fail(const char* format, const std::string& name) {
    throw EFilerError(Format(format, {name}));
  }

  TNativeXml* FDocument;
  std::string_view FText;
  size_t FPos = 0;
  // The store's text of the last element name: repeated names are stored once.
  uint32_t FLastName = 0;
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

uint32_t TXmlReader::NewNode(TXmlNodeKind kind, uint32_t parent) {
  if (FDocument->FNodes.size() >= TXmlNode::kNone) throw EFilerError("Too many nodes in xml");
  FDocument->FNodes.emplace_back(FDocument, kind, parent);
  return static_cast<uint32_t>(FDocument->FNodes.size() - 1);
}

void TXmlReader::SetName(uint32_t node, std::string_view name) {
  if (name.empty()) {
    Node(node).FName = 0;
  } else if (FLastName != 0 && FDocument->StoredText(FLastName) == name) {
    Node(node).FName = FLastName;
  } else {
    FLastName = FDocument->StoreText(name);
    Node(node).FName = FLastName;
  }
}

bool TXmlReader::DropIfEmpty(uint32_t number) {
  if (!Node(number).IsEmpty()) return false;
  FDocument->FNodes.pop_back();  // an empty node has no descendants: it is the newest
  return true;
}

uint32_t TXmlReader::ReadNode(int depth, uint32_t parent) {
  SkipWhitespace();
  if (AtEnd()) return TXmlNode::kNone;
  if (FText[FPos] != '<') {
    ++FPos;
    return TXmlNode::kNone;
  }
  TXmlNodeKind kind = nkElement;
  for (const TMarker& m : kMarkers) {
    if (LookingAt(m.Text)) {
      kind = m.Kind;
      FPos += std::strlen(m.Text);
      break;
    }
  }
  const uint32_t node = NewNode(kind, parent);
  std::string_view body;
  switch (kind) {
    case nkElement:
    case nkDeclaration:
    case nkStyleSheet:
      if (ReadTag(node) && kind == nkElement) ReadContent(node, depth);
      break;
    case nkComment:
      Node(node).FName = FDocument->StoreText("Comment");
      if (ReadUpTo("-->", false, body)) SetValue(node, body);
      break;
    case nkCData:
      Node(node).FName = FDocument->StoreText("CData");
      if (ReadUpTo("]]>", false, body)) SetValue(node, body);
      break;
    case nkOtherMarkup:
      Node(node).FName = FDocument->StoreText("Special");
      if (ReadUpTo(">", false, body)) SetValue(node, body);
      break;
    case nkOtherInstruction:
      Node(node).FName = FDocument->StoreText("Special");
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
      SetName(node, words[0]);
      first = 1;
      break;
    case nkDeclaration:
      Node(node).FName = FDocument->StoreText("xml");
      hasContent = false;
      break;
    default:
      Node(node).FName = FDocument->StoreText("xml-stylesheet");
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
      const uint32_t name = FDocument->StoreText(w.substr(0, eq));
      const uint32_t value =
          eq == std::string_view::npos ? 0 : FDocument->StoreText(w.substr(eq + 1));
      FDocument->FAttributes.push_back({name, value});
    }
    extra.AttributeCount = static_cast<uint32_t>(words.size() - first);
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
  Node(node).FName = FDocument->StoreText("DTD");
  const size_t start = FPos;
  while (FPos < FText.size() && FText[FPos] != '>' && FText[FPos] != '[') ++FPos;
  const std::vector<std::string> words = SplitWords(FText.substr(start, FPos - start));
  if (!words.empty()) Node(node).FName = FDocument->StoreText(words[0]);
  SetValue(node, JoinRest(words));
  if (AtEnd()) return;
  if (FText[FPos++] == '>') return;
  // The internal subset: markup declarations up to "]", then the rest of the tag.
  for (;;) {
    SkipWhitespace();
    if (AtEnd()) return;
    if (FText[FPos] == ']') {
      ++FPos;
      break;
    }
    if (depth + 1 > TNativeXml::kMaxDepth)
      Fail("Markup nested deeper than 1000 levels in element %s", NameOf(node));
    const uint32_t child = ReadNode(depth + 1, node);
    if (child != TXmlNode::kNone && !DropIfEmpty(child)) AddChild(node);
  }
  std::string_view rest;
  ReadUpTo(">", false, rest);
}

bool TXmlReader::Flush(uint32_t node, std::string_view collected, bool& valueFromText) {
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
  const uint32_t child = NewNode(nkCharData, node);
  SetValue(child, collected);
  AddChild(node);
  return true;
}

void TXmlReader::ReadContent(uint32_t node, int depth) {
  // The character data since the last markup: always one run of the input.
  size_t collectedStart = FPos;
  size_t collectedLength = 0;
  bool valueFromText = false;
  bool childMark = false;
  bool crMark = false;  // a CR after the start of the last child node
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
    Flush(node, FText.substr(collectedStart, collectedLength), valueFromText);
    childMark = true;
    crMark = false;
    FPos = lt;
    ReadNode(depth + 1, node);  // never empty: it starts with "<"
    AddChild(node);
    collectedStart = FPos;
    collectedLength = 0;
  }
  Flush(node, FText.substr(collectedStart, collectedLength), valueFromText);
  // A close tag on a line of its own leaves a line break that is layout, not value:
  // the character data is read without its trailing line breaks and spaces.
  if (childMark && crMark) {
    TNativeXml::TExtra& extra = FDocument->ExtraOf(Node(node));
    extra.TrimText = true;
    extra.ValueFromText = valueFromText;
  }
}

// ---- Nodes ------------------------------------------------------------------------

namespace {

// Without trailing line feeds, carriage returns and spaces (tabs stay).
std::string_view TrimLayout(std::string_view v) {
  while (!v.empty() && (v.back() == '\n' || v.back() == '\r' || v.back() == ' '))
    v.remove_suffix(1);
  return v;
}

}  // namespace

std::string_view TXmlNode::Name() const { return FDocument->StoredText(FName); }

std::string_view TXmlNode::RawValue() const {
  const std::string_view value = FDocument->StoredText(FValue);
  if (NodeKind() == nkCharData) {
    const TNativeXml::TExtra* parent = FDocument->FindExtra(FDocument->FNodes[FParent]);
    return parent && parent->TrimText ? TrimLayout(value) : value;
  }
  const TNativeXml::TExtra* extra = FDocument->FindExtra(*this);
  return extra && extra->TrimText && extra->ValueFromText ? TrimLayout(value) : value;
}

bool TXmlNode::IsEmpty() const {
  return FName == 0 && FValue == 0 && ChildCount() == 0 && AttributeCount() == 0;
}

int TXmlNode::ChildCount() const {
  const TNativeXml::TExtra* extra = FDocument->FindExtra(*this);
  return extra ? static_cast<int>(extra->ChildCount) : 0;
}

TXmlNode* TXmlNode::ChildAt(int index) const {
  if (index < 0 || index >= ChildCount()) return nullptr;
  const TNativeXml::TExtra* extra = FDocument->FindExtra(*this);
  return &FDocument->FNodes[FDocument->FChildren[extra->ChildStart + index]];
}

TXmlNode* TXmlNode::FindChild(std::string_view name) const {
  for (int i = 0; i < ChildCount(); ++i) {
    TXmlNode* child = ChildAt(i);
    if (SameText(child->Name(), name)) return child;
  }
  return nullptr;
}

int TXmlNode::AttributeCount() const {
  const TNativeXml::TExtra* extra = FDocument->FindExtra(*this);
  return extra ? static_cast<int>(extra->AttributeCount) : 0;
}

TXmlNode::TAttribute TXmlNode::AttributeAt(int index) const {
  if (index < 0 || index >= AttributeCount()) throw std::out_of_range("TXmlNode::AttributeAt");
  const TNativeXml::TAttributeRef& a =
      FDocument->FAttributes[FDocument->FindExtra(*this)->AttributeStart + index];
  return {FDocument->StoredText(a.Name), FDocument->StoredText(a.Value)};
}

std::string TXmlNode::TextValue() const {
  static constexpr struct {
    std::string_view Reference;
    char Byte;
  } kEntities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&apos;", '\''}, {"&quot;", '"'}};
  const std::string_view raw = RawValue();
  std::string result;
  result.reserve(raw.size());
  size_t i = 0;
  while (i < raw.size()) {
    const size_t amp = raw.find('&', i);
    if (amp == std::string_view::npos) {
      result += raw.substr(i);
      break;
    }
    result += raw.substr(i, amp - i);
    const size_t semi = raw.find(';', amp);
    if (semi == std::string_view::npos) {
      result += raw.substr(amp);
      break;
    }
    const std::string_view ref = raw.substr(amp, semi - amp + 1);
    i = semi + 1;
    if (ref.starts_with("&#")) {
      // "x41" reads as hexadecimal through the integer rules, like "$41" would.
      const std::string_view digits = ref.substr(2, ref.size() - 3);
      int32_t code = -1;
      if (!digits.empty() && !TryStrToInt(digits, code)) code = -1;
      if (code >= 0 && code <= 254) {
        result += static_cast<char>(code);
      } else {
        result += ref;
      }
      continue;
    }
    bool replaced = false;
    for (const auto& e : kEntities) {
      if (ref == e.Reference) {
        result += e.Byte;
        replaced = true;
        break;
      }
    }
    if (!replaced) result += ref;
  }
  return result;
}

int32_t TXmlNode::IntegerValue() const { return StrToInt(RawValue()); }

bool TXmlNode::BooleanValue() const {
  const std::string_view raw = RawValue();
  if (!raw.empty()) {
    switch (raw[0]) {
      case 'T':
      case 't':
      case 'Y':
      case 'y':
        return true;
      case 'F':
      case 'f':
      case 'N':
      case 'n':
        return false;
      default:
        break;
    }
  }
  throw Exception("Cannot convert value to bool");
}

// ---- Document ---------------------------------------------------------------------

TNativeXml::TNativeXml() { Clear(); }
TNativeXml::~TNativeXml() = default;

void TNativeXml::Clear() {
  FNodes.clear();
  FExtras.clear();
  FAttributes.clear();
  FRootNodes.clear();
  std::vector<uint32_t>().swap(FChildren);
  std::string().swap(FStore);
  FStore.assign(4, '\0');  // text 0: the empty text
}

uint32_t TNativeXml::StoreText(std::string_view text) {
  if (text.empty()) return 0;
  if (FStore.size() + 4 + text.size() > UINT32_MAX) throw EFilerError("Document too large");
  const auto ref = static_cast<uint32_t>(FStore.size());
  const auto length = static_cast<uint32_t>(text.size());
  FStore.append(reinterpret_cast<const char*>(&length), 4);
  FStore.append(text);
  return ref;
}

std::string_view TNativeXml::StoredText(uint32_t ref) const {
  uint32_t length;
  std::memcpy(&length, FStore.data() + ref, 4);
  return std::string_view(FStore).substr(ref + 4, length);
}

TNativeXml::TExtra& TNativeXml::ExtraOf(TXmlNode& node) {
  if (node.Extra() == TXmlNode::kNoExtra) {
    if (FExtras.size() >= TXmlNode::kNoExtra) throw EFilerError("Too many nodes in xml");
    FExtras.emplace_back();
    node.FKindAndExtra =
        (node.FKindAndExtra & ~TXmlNode::kNoExtra) | static_cast<uint32_t>(FExtras.size() - 1);
  }
  return FExtras[node.Extra()];
}

const TNativeXml::TExtra* TNativeXml::FindExtra(const TXmlNode& node) const {
  return node.Extra() == TXmlNode::kNoExtra ? nullptr : &FExtras[node.Extra()];
}

void TNativeXml::LinkChildren() {
  // Each record's ChildStart first points past its range; filling the ranges
  // from the last node back brings it to the range's start, in document order.
  size_t total = 0;
  for (TExtra& extra : FExtras) {
    total += extra.ChildCount;
    extra.ChildStart = static_cast<uint32_t>(total);
  }
  FChildren.assign(total, 0);
  for (size_t i = FNodes.size(); i-- > 0;) {
    const TXmlNode& node = FNodes[i];
    if (node.FParent == TXmlNode::kNone) continue;
    TExtra& parent = FExtras[FNodes[node.FParent].Extra()];
    FChildren[--parent.ChildStart] = static_cast<uint32_t>(i);
  }
}

void TNativeXml::LoadFromText(std::string_view text) {
  Clear();
  try {
    TXmlReader reader(this, text);
    // Each round reads one node; stray bytes between nodes make none, and an
    // empty node is dropped.
    do {
      const uint32_t node = reader.ReadNode(1, TXmlNode::kNone);
      if (node != TXmlNode::kNone && !reader.DropIfEmpty(node)) FRootNodes.push_back(node);
    } while (!reader.AtEnd());
    LinkChildren();
  } catch (...) {
    Clear();
    throw;
  }
  if (!FirstElement()) throw EFilerError("No root element found in xml");
}

TXmlNode* TNativeXml::FirstElement() const {
  for (uint32_t node : FRootNodes)
    if (FNodes[node].NodeKind() == nkElement) return const_cast<TXmlNode*>(&FNodes[node]);
  return nullptr;
}

TXmlNode* TNativeXml::RootNodeAt(int index) const {
  if (index < 0 || index >= RootNodeCount()) return nullptr;
  return const_cast<TXmlNode*>(&FNodes[FRootNodes[index]]);
}
