// A small XML document model for reading posted orders: a document holding a tree
// of nodes, filled from a text already in memory and then read by element name.
//
// The reader is lenient on purpose: it keeps the bytes of the input unchanged (no
// character-set decoding), keeps comments as nodes, skips stray text between
// top-level nodes, accepts several top-level elements and fails only on a handful
// of structural errors, each an EFilerError with a fixed message.
#pragma once

#include <cstdint>
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

// One node of a document's tree. A node owns its children and attributes and
// belongs to its document; it never outlives it.
class TXmlNode {
 public:
  struct TAttribute {
    std::string Name;
    std::string Value;  // as written, quotes included
  };

  TXmlNode(TNativeXml* document, TXmlNodeKind kind);
  ~TXmlNode();
  TXmlNode(const TXmlNode&) = delete;
  TXmlNode& operator=(const TXmlNode&) = delete;

  TXmlNodeKind NodeKind() const { return FNodeKind; }
  const std::string& Name() const { return FName; }
  // The value exactly as read: for an element, the text directly inside it before
  // its first child markup; for a comment, CDATA section or instruction, the text
  // between its markers.
  const std::string& RawValue() const { return FRawValue; }
  TNativeXml* Document() const { return FDocument; }

  int ChildCount() const { return static_cast<int>(FChildren.size()); }
  // Null when index is negative or not below ChildCount.
  TXmlNode* ChildAt(int index) const;
  // The first direct child whose name equals name, ignoring ASCII letter case;
  // null when there is none.
  TXmlNode* FindChild(std::string_view name) const;

  int AttributeCount() const { return static_cast<int>(FAttributes.size()); }
  const TAttribute& AttributeAt(int index) const { return FAttributes.at(index); }

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

  TNativeXml* FDocument;
  TXmlNodeKind FNodeKind;
  std::string FName;
  std::string FRawValue;
  std::vector<std::unique_ptr<TXmlNode>> FChildren;
  std::vector<TAttribute> FAttributes;
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
  // for a malformed text; the tree is then partial and not to be used.
  void LoadFromText(std::string_view text);

  // The first top-level element; null when there is none.
  TXmlNode* FirstElement() const;
  int RootNodeCount() const { return static_cast<int>(FRootNodes.size()); }
  TXmlNode* RootNodeAt(int index) const;

 private:
  std::vector<std::unique_ptr<TXmlNode>> FRootNodes;
};
