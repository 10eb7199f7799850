// A small XML document model for reading posted orders: a document holding a tree
// of nodes, filled from a text already in memory and then read by element name.
//
// The reader is lenient on purpose: it keeps the bytes of the input unchanged (no
// character-set decoding), keeps comments as nodes, skips stray text between
// top-level nodes, accepts several top-level elements and fails only on a handful
// of structural errors, each an EFilerError with a fixed message.
//
// The tree is stored compactly, so that a document of many small nodes costs a
// small multiple of its text: a node is a 16-byte record in the document's
// chunks of nodes, numbered in the order the nodes start (so an element's first
// child is the node after it) and linked to its next sibling; names and values
// live in the document's text store, a few blocks that are never copied as the
// document grows.
#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "runtime/Exception.h"

// Raised by LoadFromText for a text that cannot be read as a document.
DORVANA_EXCEPTION(EFilerError, Exception);

// The kinds of node. The numbers are fixed.
enum TXmlNodeKind : uint8_t {
  nkElement = 0,            // <name ...> ... </name> or <name .../>
  nkComment = 1,            // <!-- ... -->, named "Comment"
  nkCData = 2,              // <![CDATA[ ... ]]>, named "CData"
  nkDeclaration = 3,        // <?xml ... ?>, named "xml"
  nkStyleSheet = 4,         // <?xml-stylesheet ... ?>, named "xml-stylesheet"
  nkDocType = 5,            // <!DOCTYPE name ... [ subset ]>
  nkElementDecl = 6,        // <!ELEMENT name ...>
  nkAttListDecl = 7,        // <!ATTLIST name ...>
  nkEntityDecl = 8,         // <!ENTITY name ...>
  nkNotationDecl = 9,       // <!NOTATION name ...>
  nkOtherMarkup = 10,       // any other <! ... >, named "Special"
  nkOtherInstruction = 11,  // any other <? ... ?>, named "Special"
  nkCharData = 12,          // text between markup inside an element, unnamed
};

class TNativeXml;

// One node of a document's tree. Nodes are made and owned by their document and
// never outlive it; the texts a node hands out stay valid as long as the
// document is not loaded again or freed.
class TXmlNode {
 public:
  struct TAttribute {
    std::string_view Name;
    std::string_view Value;  // as written, quotes included
  };

  // Only the document makes nodes, in place in its chunks.
  TXmlNode() = default;
  TXmlNode(const TXmlNode&) = delete;
  TXmlNode& operator=(const TXmlNode&) = delete;

  TXmlNodeKind NodeKind() const { return static_cast<TXmlNodeKind>(FKindAndExtra >> 28); }
  std::string_view Name() const;
  // The value exactly as read: for an element, the text directly inside it before
  // its first child markup; for a comment, CDATA section or instruction, the text
  // between its markers.
  std::string_view RawValue() const;
  TNativeXml* Document() const;

  int ChildCount() const;
  // Null when index is negative or not below ChildCount. Constant time when the
  // children are visited in order, as a loop over them does.
  TXmlNode* ChildAt(int index) const;
  // The first direct child whose name equals name, ignoring ASCII letter case;
  // null when there is none.
  TXmlNode* FindChild(std::string_view name) const;

  int AttributeCount() const;
  // Raises std::out_of_range for an index outside 0 to AttributeCount - 1.
  TAttribute AttributeAt(int index) const;

  // RawValue with "&amp;", "&lt;", "&gt;", "&apos;", "&quot;" and character
  // references from 0 to 254 replaced by their bytes; other references stay as
  // written.
  std::string TextValue() const;
  // RawValue as a 32-bit integer: optional leading blanks and sign, then decimal
  // digits or a hexadecimal marker ("$", "x", "0x") and hexadecimal digits, and
  // nothing after. Raises EConvertError "'%s' is not a valid integer value".
  int32_t IntegerValue() const;
  // True for a value beginning with T or Y, false for F or N, either case. Raises
  // Exception "Cannot convert value to bool" for anything else.
  bool BooleanValue() const;

  // No name, value, children or attributes: what stray text between nodes yields.
  bool IsEmpty() const;

 private:
  friend class TXmlReader;
  friend class TNativeXml;

  static constexpr uint32_t kNoExtra = 0x0FFFFFFF;  // the low 28 bits of FKindAndExtra
  static constexpr uint32_t kTrimmed = 1;           // character data read without layout

  uint32_t Extra() const { return FKindAndExtra & kNoExtra; }
  // The node's number in its document.
  uint32_t Number() const;

  // No initial values: a chunk of nodes is not written before it is used.
  uint32_t FName;          // a text of the document's store; 0 is the empty text. For
                           // character data, which has no name: 1 to 4 when FValue
                           // holds the text itself, that many bytes
  uint32_t FValue;         // a text of the store
  uint32_t FNext;          // the next sibling's number; 0 for none
  uint32_t FKindAndExtra;  // the kind in the top 4 bits; for an element, the number
                           // of its record of children and attributes, or kNoExtra;
                           // for character data, kTrimmed or kNoExtra
};

// A document: the ordered list of top-level nodes (declaration, comments, elements
// and other markup). Owns its nodes; freeing the document frees the tree.
class TNativeXml {
 public:
  // Elements nested deeper than this fail to load rather than exhaust the stack.
  static constexpr int kMaxDepth = 1000;

  TNativeXml();
  ~TNativeXml();
  TNativeXml(const TNativeXml&) = delete;
  TNativeXml& operator=(const TNativeXml&) = delete;

  // Replaces the content with the parse of text, byte for byte. Raises EFilerError
  // for a malformed text and leaves the document empty.
  void LoadFromText(std::string_view text);

  // The first top-level element; null when there is none.
  TXmlNode* FirstElement() const;
  int RootNodeCount() const { return static_cast<int>(FRootNodes.size()); }
  TXmlNode* RootNodeAt(int index) const;

 private:
  friend class TXmlNode;
  friend class TXmlReader;

  // Where a node's children and attributes are. Only elements that have either
  // get one.
  struct TExtra {
    uint32_t ChildCount = 0;
    uint32_t AttributeStart = 0;
    uint32_t AttributeCount : 30 = 0;
    uint32_t TrimText : 1 = 0;       // the character data loses trailing line breaks and spaces
    uint32_t ValueFromText : 1 = 0;  // RawValue is the first character data, trimmed alike
  };
  struct TAttributeRef {
    uint32_t Name;
    uint32_t Value;
  };
  // 4095 nodes after a header that leads a node back to its document. A node's
  // number is the chunk's number times 4096 plus its slot, 1 to 4095, so that
  // number 0 is no node.
  static constexpr size_t kChunkBytes = 65536;
  static constexpr uint32_t kChunkSlots = 4096;
  struct alignas(kChunkBytes) TNodeChunk {
    TNativeXml* Document;
    uint32_t Number;
    // The header fills slot 0 whatever a pointer's width.
    alignas(sizeof(TXmlNode)) TXmlNode Nodes[kChunkSlots - 1];
  };
  // The last child reached by ChildAt, per parent, for the next one in order.
  struct TCursor {
    uint32_t Parent = 0;
    uint32_t Index = 0;
    uint32_t Child = 0;
  };
  // The names of the kinds other than elements, stored once by Clear.
  enum TFixedName { fnComment, fnCData, fnSpecial, fnXml, fnStyleSheet, fnDTD, fnCount };

  void Clear();
  TXmlNode& Node(uint32_t number) const {
    return FChunks[number / kChunkSlots]->Nodes[number % kChunkSlots - 1];
  }
  // The number after number, past the chunk headers.
  static uint32_t After(uint32_t number) {
    return (number + 1) % kChunkSlots ? number + 1 : number + 2;
  }
  TXmlNode& ChildOf(uint32_t parent, uint32_t index) const;
  // A text in the store: its length (4 bytes) then its bytes, inside one block; a
  // reference is the block's number times 2^20 plus the text's offset in it.
  uint32_t StoreText(std::string_view text);
  std::string_view StoredText(uint32_t ref) const;
  TExtra& ExtraOf(TXmlNode& node);
  // The node's record; null when it has none.
  const TExtra* FindExtra(const TXmlNode& node) const;

  // Chunks come in slabs of 1 to 8 that double as the document grows: an
  // aligned block costs the allocator some room on either side, paid per slab.
  std::vector<std::unique_ptr<TNodeChunk[]>> FSlabs;
  std::vector<TNodeChunk*> FChunks;
  uint32_t FNextNode = 1;  // the number the next node gets
  std::vector<std::unique_ptr<char[]>> FBlocks;
  uint32_t FBlock = 0;    // the block that takes small texts
  size_t FBlockUsed = 0;  // its bytes in use
  size_t FBlockSize = 0;  // and its size
  uint32_t FFixedNames[fnCount] = {};
  std::deque<TExtra> FExtras;
  std::deque<TAttributeRef> FAttributes;
  std::vector<uint32_t> FRootNodes;
  mutable TCursor FCursors[4];
  mutable uint32_t FNextCursor = 0;
};
