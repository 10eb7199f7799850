#include "xml/NativeXml.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/support/ExpectThrow.h"
#include "tests/support/HeapCounter.h"

namespace {

// Loads text and returns the first element, failing the test when there is none.
TXmlNode* Root(TNativeXml& doc, const std::string& text) {
  doc.LoadFromText(text);
  TXmlNode* root = doc.FirstElement();
  EXPECT_NE(nullptr, root) << text;
  return root;
}

// A value element as the order intake sees it: the only element of a document.
std::string RawOf(const std::string& text) {
  TNativeXml doc;
  return std::string(Root(doc, text)->RawValue());
}

// f raises exactly an E with this message.
template <class E, class F>
void ExpectThrow(F f, const std::string& message, const std::string& context) {
  EXPECT_TRUE(ThrowsExactly<E>(f, E("").ClassName() + ": " + message)) << context;
}

}  // namespace

TEST(NativeXmlLoad, FailuresCarryTheirMessages) {
  const struct {
    std::string in;
    const char* message;
  } kCases[] = {
      {"", "No root element found in xml"},
      {" \r\n\t", "No root element found in xml"},
      {"<?xml version=\"1.0\"?>", "No root element found in xml"},
      {"<?xml version=\"1.0\"?>\r\n<!-- only a note -->\r\n", "No root element found in xml"},
      {"order=nothing here", "No root element found in xml"},
      {"<>", "Missing element name"},
      {"< />", "Missing element name"},
      {"<order", "Missing element name"},
      {"<order id='1>", "Missing element name"},
      {"<order><GUID>abc</GUID>", "Missing close tag in element order"},
      {"<order><GUID>abc", "Missing close tag in element GUID"},
      {"<order><!-- never closed </order>", "Missing close tag in element order"},
      {"<order>abc<", "Missing data after \"<\" in element order"},
      {"<order>abc< \r\n", "Missing data after \"<\" in element order"},
      {"<order>abc</order", "Missing \">\" in close tag of element order"},
      {"<order>abc</order '>", "Missing \">\" in close tag of element order"},
      {"<order>abc</ord>", "Incorrect close tag in element order"},
      {"<order>abc</orderx>", "Incorrect close tag in element order"},
      {"<order><GUID>abc</order>", "Incorrect close tag in element GUID"},
      {"<order>< GUID>abc</GUID></order>", "Unexpected whitespace after \"<\" in element order"},
      {"<order>a <\r\nb</order>", "Unexpected whitespace after \"<\" in element order"},
  };
  for (const auto& c : kCases) {
    TNativeXml doc;
    ExpectThrow<EFilerError>([&] { doc.LoadFromText(c.in); }, c.message, c.in);
  }
}

TEST(NativeXmlLoad, LimitsNestingDepth) {
  auto nested = [](int levels) {
    std::string s;
    for (int i = 0; i < levels; ++i) s += "<e>";
    for (int i = 0; i < levels; ++i) s += "</e>";
    return s;
  };
  TNativeXml doc;
  EXPECT_NO_THROW(doc.LoadFromText(nested(TNativeXml::kMaxDepth)));
  ExpectThrow<EFilerError>([&] { doc.LoadFromText(nested(TNativeXml::kMaxDepth + 1)); },
                           "Elements nested deeper than 1000 levels in element e", "1001");
  // Far beyond the limit fails the same way instead of exhausting the stack.
  ExpectThrow<EFilerError>([&] { doc.LoadFromText(nested(100000)); },
                           "Elements nested deeper than 1000 levels in element e", "100000");
  std::string dtd;
  for (int i = 0; i < 5000; ++i) dtd += "<!DOCTYPE d [";
  ExpectThrow<EFilerError>([&] { doc.LoadFromText(dtd); },
                           "Markup nested deeper than 1000 levels in element d", "doctypes");
}

TEST(NativeXmlLoad, TopLevelStrayTextAndSeveralElements) {
  TNativeXml doc;
  // A form field name and an equals sign before the document are skipped.
  doc.LoadFromText("xml=<?xml version=\"1.0\"?>\r\n<!-- c --> junk <first>1</first><second/>");
  ASSERT_EQ(4, doc.RootNodeCount());
  EXPECT_EQ(nkDeclaration, doc.RootNodeAt(0)->NodeKind());
  EXPECT_EQ(nkComment, doc.RootNodeAt(1)->NodeKind());
  EXPECT_EQ("first", doc.FirstElement()->Name());
  EXPECT_EQ("1", doc.FirstElement()->RawValue());
  EXPECT_EQ("second", doc.RootNodeAt(3)->Name());
  EXPECT_EQ(nullptr, doc.RootNodeAt(4));
  EXPECT_EQ(nullptr, doc.RootNodeAt(-1));

  // Loading again replaces the content.
  doc.LoadFromText("<other/>");
  EXPECT_EQ(1, doc.RootNodeCount());
  EXPECT_EQ("other", doc.FirstElement()->Name());
  EXPECT_EQ(doc.FirstElement()->Document(), &doc);
}

TEST(NativeXmlLoad, NodeKindsNamesAndValues) {
  const struct {
    const char* in;  // one node inside <r>...</r>
    TXmlNodeKind kind;
    const char* name;
    const char* raw;
  } kCases[] = {
      {"<!-- it's > here -->", nkComment, "Comment", " it's > here "},
      {"<!---->", nkComment, "Comment", ""},
      {"<![CDATA[a<b>&amp;\"]]>", nkCData, "CData", "a<b>&amp;\""},
      {"<?xml version='1.0'?>", nkDeclaration, "xml", ""},
      {"<?xml-stylesheet  type=\"text/xsl\" href='a.xsl' ?>", nkStyleSheet, "xml-stylesheet",
       "type=\"text/xsl\" href='a.xsl'"},
      {"<!ELEMENT order (GUID, FOODS)>", nkElementDecl, "order", "(GUID,\r\nFOODS)"},
      {"<!ATTLIST order id CDATA #IMPLIED>", nkAttListDecl, "order", "id\r\nCDATA\r\n#IMPLIED"},
      {"<!ENTITY e \"a > b\">", nkEntityDecl, "e", "\"a > b\""},
      {"<!NOTATION gif SYSTEM 'v'>", nkNotationDecl, "gif", "SYSTEM\r\n'v'"},
      {"<!DOCTYPE order SYSTEM \"o.dtd\">", nkDocType, "order", "SYSTEM\r\n\"o.dtd\""},
      {"<!DOCTYPE>", nkDocType, "DTD", ""},
      {"<!something else>", nkOtherMarkup, "Special", "something else"},
      {"<?php echo 1 ?>", nkOtherInstruction, "Special", "php echo 1 "},
      {"<item/>", nkElement, "item", ""},
      // The longest marker wins, markers match in their exact letter case, and bytes
      // read ahead for a longer marker start what follows the shorter one.
      {"<?xml-style x='1'?>", nkDeclaration, "xml", ""},
      {"<?xml-stylesheetx?>", nkStyleSheet, "xml-stylesheet", "x"},
      {"<!-x->", nkOtherMarkup, "Special", "-x-"},
      {"<![CDATA x>", nkOtherMarkup, "Special", "[CDATA x"},
      {"<!doctype r>", nkOtherMarkup, "Special", "doctype r"},
      {"<!ENTITYe 'v'>", nkEntityDecl, "e", "'v'"},
      {"<?XML a?>", nkOtherInstruction, "Special", "XML a"},
  };
  for (const auto& c : kCases) {
    TNativeXml doc;
    TXmlNode* r = Root(doc, std::string("<r>") + c.in + "</r>");
    ASSERT_EQ(1, r->ChildCount()) << c.in;
    const TXmlNode* n = r->ChildAt(0);
    EXPECT_EQ(c.kind, n->NodeKind()) << c.in;
    EXPECT_EQ(c.name, n->Name()) << c.in;
    EXPECT_EQ(c.raw, n->RawValue()) << c.in;
  }
}

TEST(NativeXmlLoad, DocumentTypeWithInternalSubset) {
  TNativeXml doc;
  doc.LoadFromText(
      "<!DOCTYPE order [\r\n  <!ELEMENT order ANY>\r\n  <!ENTITY co \"Dorvana\">\r\n"
      "  %pe;\r\n] junk >\r\n<order>x</order>");
  ASSERT_EQ(2, doc.RootNodeCount());
  const TXmlNode* dtd = doc.RootNodeAt(0);
  EXPECT_EQ(nkDocType, dtd->NodeKind());
  EXPECT_EQ("order", dtd->Name());
  ASSERT_EQ(2, dtd->ChildCount());
  EXPECT_EQ(nkElementDecl, dtd->ChildAt(0)->NodeKind());
  EXPECT_EQ("ANY", dtd->ChildAt(0)->RawValue());
  EXPECT_EQ("co", dtd->ChildAt(1)->Name());
  EXPECT_EQ("x", doc.FirstElement()->RawValue());
}

TEST(NativeXmlLoad, StartTagsQuotesAndAttributes) {
  TNativeXml doc;
  TXmlNode* r = Root(doc, "<r a=\"x>y\" b = '1 2'  c= \"3\" d =4 flag e='it\"s'>v</r>");
  EXPECT_EQ("r", r->Name());
  EXPECT_EQ("v", r->RawValue());
  const struct {
    const char* name;
    const char* value;
  } kAttrs[] = {{"a", "\"x>y\""}, {"b", "'1 2'"}, {"c", "\"3\""},
                {"d", "4"},       {"flag", ""},   {"e", "'it\"s'"}};
  ASSERT_EQ(6, r->AttributeCount());
  for (int i = 0; i < 6; ++i) {
    EXPECT_EQ(kAttrs[i].name, r->AttributeAt(i).Name) << i;
    EXPECT_EQ(kAttrs[i].value, r->AttributeAt(i).Value) << i;
  }

  // Empty elements, with and without attributes, have no content and no close tag.
  r = Root(doc, "<r><a/><b x='/'/><c\r\n /><d>1</d></r>");
  ASSERT_EQ(4, r->ChildCount());
  EXPECT_EQ("b", r->ChildAt(1)->Name());
  EXPECT_EQ("'/'", r->ChildAt(1)->AttributeAt(0).Value);
  EXPECT_EQ("c", r->ChildAt(2)->Name());
  EXPECT_EQ("1", r->ChildAt(3)->RawValue());

  // The declaration's words are all attributes.
  doc.LoadFromText("<?xml version=\"1.0\" encoding=\"windows-1251\"?><r/>");
  const TXmlNode* decl = doc.RootNodeAt(0);
  ASSERT_EQ(2, decl->AttributeCount());
  EXPECT_EQ("encoding", decl->AttributeAt(1).Name);
  EXPECT_EQ("\"windows-1251\"", decl->AttributeAt(1).Value);
}

// A word holding "=" takes every quoted word after it. Searching the growing word
// for "=" at each join made this input take many minutes; the test's TIMEOUT
// stops such a build.
TEST(NativeXmlLoad, JoiningQuotedWordsTakesLinearTime) {
  const std::string name(4 << 20, 'a');
  std::string text = "<r " + name + " =";
  for (int i = 0; i < (1 << 20); ++i) text += " ''";
  text += ">v</r>";
  TNativeXml doc;
  TXmlNode* r = Root(doc, text);
  ASSERT_EQ(1, r->AttributeCount());
  EXPECT_TRUE(r->AttributeAt(0).Name == name);
  EXPECT_TRUE(r->AttributeAt(0).Value == std::string(2 << 20, '\''));
  EXPECT_EQ("v", r->RawValue());
}

// Orders of many small nodes. A node object with strings and vectors of its own
// cost about 40 bytes for each byte of empty rows, and 24-byte nodes with a child
// list 12 to 15 bytes for each byte of the shapes that make two nodes per unit.
TEST(NativeXmlLoad, ManySmallNodesCostASmallMultipleOfTheText) {
  const struct {
    const char* unit;
    int nodesPerUnit;
    const char* lastName;
    const char* lastValue;
    size_t bytesPerByte;
  } kShapes[] = {
      {"<z/>", 1, "z", "", 5}, {"<a/>x", 2, "", "x", 7},   {"<?a?>x", 2, "", "x", 8},
      {"<!>x", 2, "", "x", 9}, {"<a b/>x", 2, "", "x", 9}, {"<x>12345</x>", 1, "x", "12345", 3},
  };
  for (const auto& shape : kShapes) {
    std::string text = "<order><GUID>g</GUID><FOODS>";
    const int units = 1 << 18;
    for (int i = 0; i < units; ++i) text += shape.unit;
    text += "</FOODS></order>";
    heap_counter::ResetPeak();
    const size_t before = heap_counter::Live();
    {
      TNativeXml doc;
      TXmlNode* foods = Root(doc, text)->FindChild("FOODS");
      ASSERT_NE(nullptr, foods);
      const int count = units * shape.nodesPerUnit;
      ASSERT_EQ(count, foods->ChildCount()) << shape.unit;
      // In order, and back: every node leads to its document across the chunks.
      for (int i = 0; i < count; ++i) ASSERT_EQ(&doc, foods->ChildAt(i)->Document()) << i;
      EXPECT_EQ(shape.lastName, foods->ChildAt(count - 1)->Name()) << shape.unit;
      EXPECT_EQ(shape.lastValue, foods->ChildAt(count - 1)->RawValue()) << shape.unit;
      EXPECT_EQ(shape.lastValue, foods->ChildAt(count - 1 - shape.nodesPerUnit)->RawValue());
    }
    EXPECT_LE(heap_counter::Peak() - before, shape.bytesPerByte * text.size()) << shape.unit;
  }
}

// A text run of up to four bytes is kept in its node: trimmed the same way.
TEST(NativeXmlLoad, ShortTextRunsBetweenChildren) {
  const struct {
    const char* in;
    const char* first;
    const char* second;
  } kCases[] = {{"<r>a<b/>x \r\n<c/>y\r\n</r>", "x", "y"},
                {"<r>a<b/>x \r\n<c/>y</r>", "x \r\n", "y"},
                {"<r>a<b/>wxyz<c/>vwxyz\r\n</r>", "wxyz", "vwxyz"}};
  for (const auto& c : kCases) {
    TNativeXml doc;
    TXmlNode* r = Root(doc, c.in);
    ASSERT_EQ(4, r->ChildCount()) << c.in;
    EXPECT_EQ(c.first, r->ChildAt(1)->RawValue()) << c.in;
    EXPECT_EQ(c.second, r->ChildAt(3)->RawValue()) << c.in;
    EXPECT_EQ("", r->ChildAt(3)->Name()) << c.in;
  }
}

TEST(NativeXmlLoad, CloseTagsIgnoreCaseAndSurroundingBlanks) {
  const char* kCloses[] = {"</GUID>",  "</guid >",    "</ Guid\r\n>",   "</GUID\t>",
                           "< /GUID>", "<\r\n/guid>", "</\x01GUID\x1F>"};
  for (const char* close : kCloses) {
    EXPECT_EQ("abc", RawOf(std::string("<GUID>abc") + close)) << close;
  }
}

TEST(NativeXmlLoad, ElementValues) {
  const struct {
    const char* in;
    const char* raw;
  } kCases[] = {
      // A value on one line, and one on its own line keeping its layout.
      {"<GUID>abc</GUID>", "abc"},
      {"<TABLE>\r\n    12\r\n  </TABLE>", "\r\n    12\r\n  "},
      {"<a> \r\n\t </a>", ""},
      {"<a>\x01\x1F</a>", ""},
      {"<a>\xC0\xFF</a>", "\xC0\xFF"},
      {"<a>\xD0\x90 \xE2\x82\xAC</a>", "\xD0\x90 \xE2\x82\xAC"},
      {"<a>x > y &bogus; &</a>", "x > y &bogus; &"},
      // A row: its id before the children, the close tag on a line of its own.
      {"<item>12\r\n  <count>1</count>\r\n  <weight>0</weight>\r\n</item>", "12"},
      {"<item>\r\n 12 \r\n<count>1</count>\r\n</item>", "\r\n 12"},
      {"<item>12\t\r\n<count>1</count>\r\n</item>", "12\t"},
      // The close tag right after the last child keeps the line break.
      {"<item>12\r\n  <count>1</count>\r\n  <weight>0</weight></item>", "12\r\n  "},
      // Only a CR after the last child's start counts, not one inside it.
      {"<item>12\r\n<count>1\r\n</count></item>", "12\r\n"},
      {"<item>12\n<count>1</count>\n</item>", "12\n"},
      // Text after the first child is a child of its own, not the value.
      {"<a><b/>tail</a>", ""},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.raw, RawOf(c.in)) << c.in;
}

TEST(NativeXmlLoad, CharacterDataCommentsAndCDataAreChildren) {
  TNativeXml doc;
  TXmlNode* foods = Root(doc,
                         "<FOODS>head<!-- a row -->\r\n<item>1</item> between \r\n"
                         "<![CDATA[ z ]]>\r\n<item>2</item>\r\n</FOODS>");
  EXPECT_EQ("head", foods->RawValue());
  ASSERT_EQ(5, foods->ChildCount());
  const struct {
    TXmlNodeKind kind;
    const char* raw;
  } kChildren[] = {{nkComment, " a row "},
                   {nkElement, "1"},
                   {nkCharData, " between"},  // trailing CR LF and blank removed
                   {nkCData, " z "},
                   {nkElement, "2"}};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(kChildren[i].kind, foods->ChildAt(i)->NodeKind()) << i;
    EXPECT_EQ(kChildren[i].raw, foods->ChildAt(i)->RawValue()) << i;
  }
  EXPECT_EQ("", foods->ChildAt(2)->Name());
}

TEST(NativeXmlRead, FindChildAndChildAt) {
  TNativeXml doc;
  TXmlNode* r = Root(doc,
                     "<order><Guid>1</Guid><guid>2</guid><FOODS><count>7</count></FOODS>"
                     "</order>");
  ASSERT_NE(nullptr, r->FindChild("GUID"));
  EXPECT_EQ("1", r->FindChild("GUID")->RawValue());  // the first of two
  EXPECT_EQ("FOODS", r->FindChild("foods")->Name());
  EXPECT_EQ(nullptr, r->FindChild("count"));  // a grandchild
  EXPECT_EQ(nullptr, r->FindChild("GUI"));
  EXPECT_EQ(nullptr, r->FindChild("GUIDS"));
  EXPECT_EQ(3, r->ChildCount());
  EXPECT_EQ("guid", r->ChildAt(1)->Name());
  EXPECT_EQ(nullptr, r->ChildAt(3));
  EXPECT_EQ(nullptr, r->ChildAt(-1));
  EXPECT_EQ(0, r->ChildAt(0)->ChildCount());
  EXPECT_EQ(nullptr, r->ChildAt(0)->ChildAt(0));
}

TEST(NativeXmlRead, TextValueDecodesReferences) {
  const struct {
    const char* raw;
    const char* text;
  } kCases[] = {
      {"", ""},
      {"Fish &amp; Chips", "Fish & Chips"},
      {"&lt;b&gt;&apos;&quot;", "<b>'\""},
      {"&AMP;&Amp;", "&AMP;&Amp;"},
      {"&#65;&#x42;&#X43;", "ABC"},
      {"&#0065;&#254;&#255;&#300;&#-1;", "A\xFE&#255;&#300;&#-1;"},
      {"&#;&#x;&#abc;", "&#;&#x;&#abc;"},
      {"&#38;amp;", "&amp;"},  // a replacement is not scanned again
      {"&nbsp;x", "&nbsp;x"},
      {"a & b", "a & b"},
      {"a &amp", "a &amp"},
      {"a & b &amp; c", "a & b &amp; c"},  // the reference runs to the first ";"
      {"&amp;&amp;", "&&"},
  };
  for (const auto& c : kCases) {
    TNativeXml doc;
    TXmlNode* r = Root(doc, std::string("<v><![CDATA[") + c.raw + "]]></v>")->ChildAt(0);
    EXPECT_EQ(c.text, r->TextValue()) << c.raw;
  }
  TNativeXml doc;
  EXPECT_EQ(std::string(1, '\0'), Root(doc, "<v>&#0;</v>")->TextValue());
}

TEST(NativeXmlRead, IntegerValueAcceptsExactForms) {
  const struct {
    const char* raw;
    int32_t value;
  } kGood[] = {
      {"12", 12},
      {" 12", 12},
      {"   -7", -7},
      {"+3", 3},
      {"$1A", 26},
      {"x1A", 26},
      {"X1a", 26},
      {"0x1A", 26},
      {"0X1a", 26},
      {"-$10", -16},
      {"$FFFFFFFF", -1},
      {"$0000000001", 1},
      {"2147483647", INT32_MAX},
      {"-2147483648", INT32_MIN},
      {"007", 7},
  };
  for (const auto& c : kGood) {
    TNativeXml doc;
    EXPECT_EQ(c.value, Root(doc, std::string("<v>") + c.raw + "</v>")->IntegerValue()) << c.raw;
  }
  const char* kBad[] = {"12 ",         "12\r\n",     "\t12",       "1 2",  "12a", "$",
                        "0x",          "-",          "--1",        "$1G",  "1.5", "2147483648",
                        "-2147483649", "$100000000", "\r\n12\r\n", "&#49;"};
  for (const char* raw : kBad) {
    TNativeXml doc;
    TXmlNode* v = Root(doc, std::string("<v>") + raw + "</v>");
    ASSERT_EQ(raw, v->RawValue());
    ExpectThrow<EConvertError>([&] { v->IntegerValue(); },
                               std::string("'") + raw + "' is not a valid integer value", raw);
  }
  TNativeXml doc;
  ExpectThrow<EConvertError>([&] { Root(doc, "<v/>")->IntegerValue(); },
                             "'' is not a valid integer value", "empty");
}

TEST(NativeXmlRead, BooleanValueReadsTheFirstByte) {
  const struct {
    const char* raw;
    bool value;
  } kGood[] = {{"yes", true}, {"True", true},   {"t", true},  {"Y", true},   {"tomato", true},
               {"No", false}, {"false", false}, {"F", false}, {"nil", false}};
  for (const auto& c : kGood) {
    TNativeXml doc;
    EXPECT_EQ(c.value, Root(doc, std::string("<v>") + c.raw + "</v>")->BooleanValue()) << c.raw;
  }
  const char* kBad[] = {"1", "0", "", " yes", "\xD4"};
  for (const char* raw : kBad) {
    TNativeXml doc;
    TXmlNode* v = Root(doc, std::string("<v>") + raw + "</v>");
    ExpectThrow<Exception>([&] { v->BooleanValue(); }, "Cannot convert value to bool", raw);
  }
}

// An order as a terminal posts it, after the line breaks came through as CR LF.
TEST(NativeXmlRead, ReadsAPostedOrder) {
  std::string text =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\r\n<Order>\r\n"
      "<guid>5f0c2a9e-1b7d-4c31-9a55-0d2e6f7a8b90</guid>\r\n<DeviceId>T-07</DeviceId>\r\n"
      "<PIN>\xD0\x9F"
      "12</PIN>\r\n<TABLE> 14</TABLE>\r\n<FOODS>\r\n";
  for (int i = 0; i < 200; ++i) {
    text += "<food>" + std::to_string(1000 + i) + "\r\n<count>" + std::to_string(i % 5 + 1) +
            "</count>\r\n<weight>" + std::to_string(i * 10) + "</weight>\r\n<isModificator>" +
            (i % 3 ? "false" : "True") + "</isModificator>\r\n</food>\r\n";
  }
  text += "</FOODS>\r\n</Order>\r\n";

  TNativeXml doc;
  TXmlNode* root = Root(doc, text);
  EXPECT_EQ("5f0c2a9e-1b7d-4c31-9a55-0d2e6f7a8b90", root->FindChild("GUID")->TextValue());
  EXPECT_EQ("T-07", root->FindChild("DEVICEID")->TextValue());
  EXPECT_EQ(
      "\xD0\x9F"
      "12",
      root->FindChild("PIN")->TextValue());
  EXPECT_EQ(14, root->FindChild("TABLE")->IntegerValue());
  const TXmlNode* foods = root->FindChild("FOODS");
  ASSERT_EQ(200, foods->ChildCount());
  for (int i = 0; i < 200; ++i) {
    const TXmlNode* row = foods->ChildAt(i);
    EXPECT_EQ(1000 + i, row->IntegerValue()) << i;
    EXPECT_EQ(i % 5 + 1, row->FindChild("count")->IntegerValue()) << i;
    EXPECT_EQ(i * 10, row->FindChild("weight")->IntegerValue()) << i;
    EXPECT_EQ(i % 3 == 0, row->FindChild("isModificator")->BooleanValue()) << i;
  }
}
