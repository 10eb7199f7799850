#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
#include <stdexcept>

#include "runtime/Text.h"
#include "xml/NativeXml.h"

// ---- Nodes ------------------------------------------------------------------------

namespace {

// Without trailing line feeds, carriage returns and spaces (tabs stay).
std::string_view TrimLayout(std::string_view v) {
  while (!v.empty() && (v.back() == '\n' || v.back() == '\r' || v.back() == ' '))
    v.remove_suffix(1);
  return v;
}

}  // namespace

// A chunk is aligned to its size, so a node finds the chunk's header, and with
// it its document and number, from its own address.
TNativeXml* TXmlNode::Document() const {
  const uintptr_t chunk = reinterpret_cast<uintptr_t>(this) & ~(TNativeXml::kChunkBytes - 1);
  return reinterpret_cast<const TNativeXml::TNodeChunk*>(chunk)->Document;
}

uint32_t TXmlNode::Number() const {
  const uintptr_t address = reinterpret_cast<uintptr_t>(this);
  const uintptr_t chunk = address & ~(TNativeXml::kChunkBytes - 1);
  const uint32_t slot = static_cast<uint32_t>((address - chunk) / sizeof(TXmlNode));
  return reinterpret_cast<const TNativeXml::TNodeChunk*>(chunk)->Number * TNativeXml::kChunkSlots +
         slot;
}

std::string_view TXmlNode::Name() const {
  return NodeKind() == nkCharData ? std::string_view() : Document()->StoredText(FName);
}

std::string_view TXmlNode::RawValue() const {
  const TNativeXml* document = Document();
  if (NodeKind() == nkCharData) {
    const std::string_view value =
        FName ? std::string_view(reinterpret_cast<const char*>(&FValue), FName)
              : document->StoredText(FValue);
    return Extra() == kTrimmed ? TrimLayout(value) : value;
  }
  const std::string_view value = document->StoredText(FValue);
  const TNativeXml::TExtra* extra = document->FindExtra(*this);
  return extra && extra->TrimText && extra->ValueFromText ? TrimLayout(value) : value;
}

bool TXmlNode::IsEmpty() const {
  return FName == 0 && FValue == 0 && ChildCount() == 0 && AttributeCount() == 0;
}

int TXmlNode::ChildCount() const {
  const TNativeXml::TExtra* extra = Document()->FindExtra(*this);
  return extra ? static_cast<int>(extra->ChildCount) : 0;
}

TXmlNode* TXmlNode::ChildAt(int index) const {
  if (index < 0 || index >= ChildCount()) return nullptr;
  return &Document()->ChildOf(Number(), static_cast<uint32_t>(index));
}

TXmlNode* TXmlNode::FindChild(std::string_view name) const {
  if (ChildCount() == 0) return nullptr;
  const TNativeXml* document = Document();
  for (uint32_t c = TNativeXml::After(Number()); c; c = document->Node(c).FNext) {
    TXmlNode& child = document->Node(c);
    if (SameText(child.Name(), name)) return &child;
  }
  return nullptr;
}

int TXmlNode::AttributeCount() const {
  const TNativeXml::TExtra* extra = Document()->FindExtra(*this);
  return extra ? static_cast<int>(extra->AttributeCount) : 0;
}

TXmlNode::TAttribute TXmlNode::AttributeAt(int index) const {
  if (index < 0 || index >= AttributeCount()) throw std::out_of_range("TXmlNode::AttributeAt");
  const TNativeXml* document = Document();
  const TNativeXml::TAttributeRef& a =
      document->FAttributes[document->FindExtra(*this)->AttributeStart + index];
  return {document->StoredText(a.Name), document->StoredText(a.Value)};
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
  static_assert(sizeof(TXmlNode) == 16);
  static_assert(sizeof(TNodeChunk) == kChunkBytes);
  static_assert(offsetof(TNodeChunk, Nodes) == sizeof(TXmlNode));
  FChunks.clear();
  FSlabs.clear();
  FNextNode = 1;
  FExtras.clear();
  FAttributes.clear();
  FRootNodes.clear();
  for (TCursor& c : FCursors) c = TCursor();
  FBlocks.clear();
  FBlockSize = 0;
  FBlockUsed = 0;
  // Text 0, the empty text, and the fixed names open the first block.
  static constexpr std::string_view kNames[fnCount] = {"Comment", "CData",          "Special",
                                                       "xml",     "xml-stylesheet", "DTD"};
  FBlockUsed = 4;
  FBlockSize = 4096;
  FBlock = 0;
  FBlocks.push_back(std::make_unique_for_overwrite<char[]>(FBlockSize));
  std::memset(FBlocks[0].get(), 0, 4);
  for (int i = 0; i < fnCount; ++i) FFixedNames[i] = StoreText(kNames[i]);
}

namespace {

constexpr size_t kBlockBytes = size_t{1} << 20;  // the most a block of small texts holds
constexpr uint32_t kMaxBlocks = 4096;            // so that 32 bits name a text

}  // namespace

uint32_t TNativeXml::StoreText(std::string_view text) {
  if (text.empty()) return 0;
  const size_t need = 4 + text.size();
  uint32_t block = FBlock;
  size_t offset = FBlockUsed;
  if (need > kBlockBytes / 4 || FBlockUsed + need > FBlockSize) {
    if (FBlocks.size() >= kMaxBlocks) throw EFilerError("Document too large");
    // A long text has a block of its own; small ones fill blocks that double up
    // to 1 MiB, so that nothing is copied as the store grows.
    const bool own = need > kBlockBytes / 4;
    const size_t size = own ? need : std::max(need, std::min(kBlockBytes, FBlockSize * 2));
    block = static_cast<uint32_t>(FBlocks.size());
    offset = 0;
    FBlocks.push_back(std::make_unique_for_overwrite<char[]>(size));
    if (!own) {
      FBlock = block;
      FBlockSize = size;
      FBlockUsed = 0;
    }
  }
  const auto length = static_cast<uint32_t>(text.size());
  char* p = FBlocks[block].get() + offset;
  std::memcpy(p, &length, 4);
  std::memcpy(p + 4, text.data(), text.size());
  if (block == FBlock) FBlockUsed = offset + need;
  return block << 20 | static_cast<uint32_t>(offset);
}

std::string_view TNativeXml::StoredText(uint32_t ref) const {
  const char* p = FBlocks[ref >> 20].get() + (ref & (kBlockBytes - 1));
  uint32_t length;
  std::memcpy(&length, p, 4);
  return std::string_view(p + 4, length);
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
  if (node.NodeKind() == nkCharData || node.Extra() == TXmlNode::kNoExtra) return nullptr;
  return &FExtras[node.Extra()];
}

TXmlNode& TNativeXml::ChildOf(uint32_t parent, uint32_t index) const {
  TCursor* cursor = nullptr;
  for (TCursor& c : FCursors)
    if (c.Parent == parent) cursor = &c;
  if (!cursor) {
    cursor = &FCursors[FNextCursor++ % std::size(FCursors)];
    *cursor = TCursor();
  }
  if (cursor->Parent != parent || cursor->Index > index) *cursor = {parent, 0, After(parent)};
  for (; cursor->Index < index; ++cursor->Index) cursor->Child = Node(cursor->Child).FNext;
  return Node(cursor->Child);
}

TXmlNode* TNativeXml::FirstElement() const {
  for (uint32_t node : FRootNodes)
    if (Node(node).NodeKind() == nkElement) return &Node(node);
  return nullptr;
}

TXmlNode* TNativeXml::RootNodeAt(int index) const {
  if (index < 0 || index >= RootNodeCount()) return nullptr;
  return &Node(FRootNodes[index]);
}
