#include "xml/NativeXml.h"

#include <cstring>

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
    {"<?xml-stylesheet", nkStyleSheet}, {"<!NOTATION", nkNotationDecl},
    {"<![CDATA[", nkCData},             {"<!DOCTYPE", nkDocType},
    {"<!ELEMENT", nkElementDecl},       {"<!ATTLIST", nkAttListDecl},
    {"<!ENTITY", nkEntityDecl},         {"<?xml", nkDeclaration},
    {"<!--", nkComment},                {"<!", nkOtherMarkup},
    {"<?", nkOtherInstruction},         {"<", nkElement},
};

}  // namespace

// Reads one text into a document's tree: a byte cursor over the text, moving
// forward only, except for the step back to the "<" that starts a child node.
class TXmlReader {
 public:
  explicit TXmlReader(TNativeXml* document, std::string_view text)
      : FDocument(document), FText(text) {}

  bool AtEnd() const { return FPos >= FText.size(); }

  std::unique_ptr<TXmlNode> ReadNode(int depth);

 private:
  void SkipWhitespace() {
    while (FPos < FText.size() && IsWhitespace(FText[FPos])) ++FPos;
  }
  bool LookingAt(std::string_view s) const { return FText.substr(FPos).starts_with(s); }

  // The text up to the end marker, which is consumed but not returned. Inside a
  // quoted run the marker is not recognised when quotes count. False when the text
  // ends first; the cursor is then at the end.
  bool ReadUpTo(std::string_view marker, bool quotesCount, std::string_view& result);

  // Reads a start tag or a declaration; true when an element has content to read.
  bool ReadTag(TXmlNode& node);
  void ReadDeclarationBody(TXmlNode& node);
  void ReadDocType(TXmlNode& node, int depth);
  void ReadContent(TXmlNode& node, int depth);
  static void Flush(TXmlNode& node, std::string& collected);
  [[noreturn]] static void Fail(const char* format, const std::string& name) {
    throw EFilerError(Format(format, {name}));
  }

  TNativeXml* FDocument;
  std::string_view FText;
  size_t FPos = 0;
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

std::unique_ptr<TXmlNode> TXmlReader::ReadNode(int depth) {
  SkipWhitespace();
  if (AtEnd()) return std::make_unique<TXmlNode>(FDocument, nkElement);
  if (FText[FPos] != '<') {
    ++FPos;
    return std::make_unique<TXmlNode>(FDocument, nkElement);
  }
  TXmlNodeKind kind = nkElement;
  for (const TMarker& m : kMarkers) {
    if (LookingAt(m.Text)) {
      kind = m.Kind;
      FPos += std::strlen(m.Text);
      break;
    }
  }
  auto node = std::make_unique<TXmlNode>(FDocument, kind);
  std::string_view body;
  switch (kind) {
    case nkElement:
    case nkDeclaration:
    case nkStyleSheet:
      if (ReadTag(*node) && kind == nkElement) ReadContent(*node, depth);
      break;
    case nkComment:
      node->FName = "Comment";
      if (ReadUpTo("-->", false, body)) node->FRawValue = body;
      break;
    case nkCData:
      node->FName = "CData";
      if (ReadUpTo("]]>", false, body)) node->FRawValue = body;
      break;
    case nkOtherMarkup:
      node->FName = "Special";
      if (ReadUpTo(">", false, body)) node->FRawValue = body;
      break;
    case nkOtherInstruction:
      node->FName = "Special";
      if (ReadUpTo("?>", false, body)) node->FRawValue = body;
      break;
    case nkElementDecl:
    case nkAttListDecl:
    case nkEntityDecl:
    case nkNotationDecl:
      ReadDeclarationBody(*node);
      break;
    case nkDocType:
      ReadDocType(*node, depth);
      break;
    case nkCharData:
      break;
  }
  return node;
}

bool TXmlReader::ReadTag(TXmlNode& node) {
  std::string_view tag;
  ReadUpTo(node.FNodeKind == nkElement ? ">" : "?>", true, tag);
  bool hasContent = true;
  if (node.FNodeKind == nkElement && tag.ends_with('/')) {
    tag.remove_suffix(1);
    hasContent = false;
  }
  std::vector<std::string> words = SplitWords(tag);
  size_t first = 0;
  switch (node.FNodeKind) {
    case nkElement:
      if (words.empty()) throw EFilerError("Missing element name");
      node.FName = std::move(words[0]);
      first = 1;
      break;
    case nkDeclaration:
      node.FName = "xml";
      hasContent = false;
      break;
    default:
      node.FName = "xml-stylesheet";
      node.FRawValue = Trim(tag);
      hasContent = false;
      break;
  }
  for (size_t i = first; i < words.size(); ++i) {
    const std::string& w = words[i];
    const size_t eq = w.find('=');
    if (eq == std::string::npos) {
      node.FAttributes.push_back({w, std::string()});
    } else {
      node.FAttributes.push_back({w.substr(0, eq), w.substr(eq + 1)});
    }
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

void TXmlReader::ReadDeclarationBody(TXmlNode& node) {
  std::string_view body;
  ReadUpTo(">", true, body);
  const std::vector<std::string> words = SplitWords(body);
  if (!words.empty()) node.FName = words[0];
  node.FRawValue = JoinRest(words);
}

void TXmlReader::ReadDocType(TXmlNode& node, int depth) {
  node.FName = "DTD";
  const size_t start = FPos;
  while (FPos < FText.size() && FText[FPos] != '>' && FText[FPos] != '[') ++FPos;
  const std::vector<std::string> words = SplitWords(FText.substr(start, FPos - start));
  if (!words.empty()) node.FName = words[0];
  node.FRawValue = JoinRest(words);
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
      Fail("Markup nested deeper than 1000 levels in element %s", node.FName);
    std::unique_ptr<TXmlNode> child = ReadNode(depth + 1);
    if (!child->IsEmpty()) node.FChildren.push_back(std::move(child));
  }
  std::string_view rest;
  ReadUpTo(">", false, rest);
}

void TXmlReader::Flush(TXmlNode& node, std::string& collected) {
  for (char c : collected) {
    if (IsAboveBlank(c)) {
      auto text = std::make_unique<TXmlNode>(node.FDocument, nkCharData);
      text->FRawValue = std::move(collected);
      node.FChildren.push_back(std::move(text));
      break;
    }
  }
  collected.clear();
}

void TXmlReader::ReadContent(TXmlNode& node, int depth) {
  std::string collected;
  bool childMark = false;
  bool crMark = false;  // a CR after the start of the last child node
  for (;;) {
    if (AtEnd()) Fail("Missing close tag in element %s", node.FName);
    const char c = FText[FPos++];
    if (c != '<') {
      collected += c;
      if (c == '\r') crMark = true;
      continue;
    }
    const size_t lt = FPos - 1;
    SkipWhitespace();
    if (AtEnd()) Fail("Missing data after \"<\" in element %s", node.FName);
    if (FText[FPos] == '/') {
      ++FPos;
      std::string_view closeName;
      if (!ReadUpTo(">", true, closeName))
        Fail("Missing \">\" in close tag of element %s", node.FName);
      if (!SameText(Trim(closeName), node.FName))
        Fail("Incorrect close tag in element %s", node.FName);
      break;
    }
    // Markup must follow "<" directly; anything else would be read out of step.
    if (FPos != lt + 1) Fail("Unexpected whitespace after \"<\" in element %s", node.FName);
    if (depth + 1 > TNativeXml::kMaxDepth)
      Fail("Elements nested deeper than 1000 levels in element %s", node.FName);
    Flush(node, collected);
    childMark = true;
    crMark = false;
    FPos = lt;
    node.FChildren.push_back(ReadNode(depth + 1));
  }
  Flush(node, collected);
  // A close tag on a line of its own leaves a line break that is layout, not value.
  if (childMark && crMark) {
    for (auto& child : node.FChildren) {
      if (child->FNodeKind != nkCharData) continue;
      std::string& v = child->FRawValue;
      while (!v.empty() && (v.back() == '\n' || v.back() == '\r' || v.back() == ' '))
        v.pop_back();
    }
  }
  if (!node.FChildren.empty() && node.FChildren.front()->FNodeKind == nkCharData) {
    node.FRawValue = std::move(node.FChildren.front()->FRawValue);
    node.FChildren.erase(node.FChildren.begin());
  }
}

TXmlNode::TXmlNode(TNativeXml* document, TXmlNodeKind kind)
    : FDocument(document), FNodeKind(kind) {}

TXmlNode::~TXmlNode() = default;

bool TXmlNode::IsEmpty() const {
  return FName.empty() && FRawValue.empty() && FChildren.empty() && FAttributes.empty();
}

TXmlNode* TXmlNode::ChildAt(int index) const {
  if (index < 0 || index >= ChildCount()) return nullptr;
  return FChildren[index].get();
}

TXmlNode* TXmlNode::FindChild(std::string_view name) const {
  for (const auto& child : FChildren)
    if (SameText(child->FName, name)) return child.get();
  return nullptr;
}

std::string TXmlNode::TextValue() const {
  static constexpr struct {
    std::string_view Reference;
    char Byte;
  } kEntities[] = {
      {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&apos;", '\''}, {"&quot;", '"'}};
  const std::string_view raw = FRawValue;
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

int32_t TXmlNode::IntegerValue() const { return StrToInt(FRawValue); }

bool TXmlNode::BooleanValue() const {
  if (!FRawValue.empty()) {
    switch (FRawValue[0]) {
      case 'T': case 't': case 'Y': case 'y':
        return true;
      case 'F': case 'f': case 'N': case 'n':
        return false;
      default:
        break;
    }
  }
  throw Exception("Cannot convert value to bool");
}

TNativeXml::TNativeXml() = default;
TNativeXml::~TNativeXml() = default;

void TNativeXml::LoadFromText(std::string_view text) {
  FRootNodes.clear();
  TXmlReader reader(this, text);
  // Each round reads one node; stray bytes between nodes come out as empty nodes
  // that are dropped.
  do {
    std::unique_ptr<TXmlNode> node = reader.ReadNode(1);
    if (!node->IsEmpty()) FRootNodes.push_back(std::move(node));
  } while (!reader.AtEnd());
  if (!FirstElement()) throw EFilerError("No root element found in xml");
}

TXmlNode* TNativeXml::FirstElement() const {
  for (const auto& node : FRootNodes)
    if (node->NodeKind() == nkElement) return node.get();
  return nullptr;
}

TXmlNode* TNativeXml::RootNodeAt(int index) const {
  if (index < 0 || index >= RootNodeCount()) return nullptr;
  return FRootNodes[index].get();
}
