// A small XML document model for reading posted orders: a document holding a tree
// of nodes, filled from a text already in memory and then read by element name.
//
// The reader is lenient on purpose: it keeps the bytes of the input unchanged (no
// character-set decoding), keeps comments as nodes, skips stray text between
// top-level nodes, accepts several top-level elements and fails only on a handful
// of structural errors, each an EFilerError with a fixed message.
//
// The tree is stored compactly, so that a document of many small nodes costs a
// small multiple of its text: the nodes live in the document in the order they
// start, their names and values in one text store of the document, and the
// children of every node in one array of node numbers, built when the load ends.
#pragma once

#include <cstdint>
#include <deque>
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
  static constexpr uint32_t kNone = 0xFFFFFFFF;     // no parent: a top-level node
  static constexpr uint32_t kNoExtra = 0x0FFFFFFF;  // the low 28 bits of FKindAndExtra

  struct TAttribute {
    std::string_view Name;
    std::string_view Value;  // as written, quotes included
  };

  // Made only by the document, as it reads a text.
  TXmlNode(TNativeXml* document, TXmlNodeKind kind, uint32_t parent)
      : FDocument(document), FParent(parent), FKindAndExtra(uint32_t{kind} << 28 | kNoExtra) {}
  TXmlNode(const TXmlNode&) = delete;
  TXmlNode& operator=(const TXmlNode&) = delete;

  TXmlNodeKind NodeKind() const { return static_cast<TXmlNodeKind>(FKindAndExtra >> 28); }
  std::string_view Name() const;
  // The value exactly as read: for an element, the text directly inside it before
  // its first child markup; for a comment, CDATA section or instruction, the text
  // between its markers.
  std::string_view RawValue() const;
  TNativeXml* Document() const { return FDocument; }

  int ChildCount() const;
  // Null when index is negative or not below ChildCount.
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

  uint32_t Extra() const { return FKindAndExtra & kNoExtra; }

  TNativeXml* FDocument;
  uint32_t FName = 0;      // a text of the document's store; 0 is the empty text
  uint32_t FValue = 0;     // the same
  uint32_t FParent;        // the parent's number, or kNone at the top level
  uint32_t FKindAndExtra;  // the kind in the top 4 bits; the number of the node's
                           // record of children and attributes, or kNoExtra
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

  // Where a node's children and attributes are: ranges of FChildren and
  // FAttributes. Only nodes that have either get one.
  struct TExtra {
    uint32_t ChildStart = 0;
    uint32_t ChildCount = 0;
    uint32_t AttributeStart = 0;
    uint32_t AttributeCount = 0;
    bool TrimText = false;       // the character data loses trailing line breaks and spaces
    bool ValueFromText = false;  // RawValue is the first character data, trimmed alike
  };
  struct TAttributeRef {
    uint32_t Name;
    uint32_t Value;
  };

  void Clear();
  // A text in the store: its length (4 bytes) then its bytes.
  uint32_t StoreText(std::string_view text);
  std::string_view StoredText(uint32_t ref) const;
  // Shortens a stored text in place.
  void SetStoredLength(uint32_t ref, size_t length);
  TExtra& ExtraOf(TXmlNode& node);
  // The node's record; null when it has none.
  const TExtra* FindExtra(const TXmlNode& node) const;
  // Fills FChildren from the nodes' parents, once every node is read.
  void LinkChildren();

  std::string FStore;
  std::deque<TXmlNode> FNodes;
  std::deque<TExtra> FExtras;
  std::deque<TAttributeRef> FAttributes;
  std::vector<uint32_t> FChildren;
  std::vector<uint32_t> FRootNodes;
};
