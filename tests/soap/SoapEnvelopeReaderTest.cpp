#include <gtest/gtest.h>
#include <libxml/xmlmemory.h>

#include "soap/SoapEnvelope.h"
#include "soap/SoapTestIntf.h"
#include "tests/soap/SoapEnvelopeHarness.h"
#include "tests/support/ExpectThrow.h"
#include "tests/support/HeapCounter.h"

TEST(SoapRead, SelectsTheMethodNamedInTheBody) {
  const struct {
    const char* body;
    const char* method;
  } kCases[] = {
      {"<ns1:echoDouble><Value>1</Value></ns1:echoDouble>", "echoDouble"},
      {"<ns1:echoEnum><Value>etSome</Value></ns1:echoEnum>", "echoEnum"},
      {"<echoDoubleArray><Value/></echoDoubleArray>", "echoDoubleArray"},
      {"\n  <ns1:echoMyEmployee/>\n", "echoMyEmployee"},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.method, Read(c.body).Method->Name) << c.body;
}

TEST(SoapRead, EnumerationMembersByName) {
  const char* kNames[] = {"etNone", "etAFew", "etSome", "etAlot"};
  for (int i = 0; i < 4; ++i)
    EXPECT_EQ(i, Read(std::string("<ns1:echoEnum><Value xsi:type=\"ns2:TEnumTest\">") + kNames[i] +
                      "</Value></ns1:echoEnum>")
                     .Args[0]
                     .AsOrdinal());
  EXPECT_TRUE(ThrowsExactly<ESoapReadError>(
      [] { Read("<ns1:echoEnum><Value>etsome</Value></ns1:echoEnum>"); },
      "ESoapReadError: Value: 'etsome' is not a member of TEnumTest"));
}

TEST(SoapRead, AcceptsTheOlderSchemaNamespacesOnlyWhenAsked) {
  for (const char* schema :
       {"http://www.w3.org/1999/XMLSchema", "http://www.w3.org/2000/10/XMLSchema",
        "http://www.w3.org/2001/XMLSchema"}) {
    std::string env =
        Envelope("<ns1:echoMyEmployee><Value xsi:nil=\"true\"/></ns1:echoMyEmployee>", schema);
    EXPECT_EQ(nullptr,
              ReadSoapRequest(env, ISoapTestInterface(), kModuleOptions).Args[0].AsObject())
        << schema;
  }
  // Without the option a nil in the 1999 namespace is not seen: an empty object.
  std::string env = Envelope("<ns1:echoMyEmployee><Value xsi:null=\"1\"/></ns1:echoMyEmployee>",
                             "http://www.w3.org/1999/XMLSchema");
  EXPECT_NE(nullptr, ReadSoapRequest(env, ISoapTestInterface(), {}).Args[0].AsObject());
  EXPECT_EQ(nullptr, ReadSoapRequest(env, ISoapTestInterface(), kModuleOptions).Args[0].AsObject());
}

TEST(SoapRead, ArraysInlineEmptyAndReferenced) {
  const struct {
    const char* body;
    std::vector<double> out;
  } kCases[] = {
      {"<ns1:echoDoubleArray><Value SOAP-ENC:arrayType=\"xsd:double[3]\">"
       "<item>1</item><item>2.5</item><item>-3</item></Value></ns1:echoDoubleArray>",
       {1, 2.5, -3}},
      {"<ns1:echoDoubleArray><Value SOAP-ENC:arrayType=\"xsd:double[0]\"/></ns1:echoDoubleArray>",
       {}},
      {"<ns1:echoDoubleArray/>", {}},
      {"<ns1:echoDoubleArray><Value href=\"#a\"/></ns1:echoDoubleArray>"
       "<SOAP-ENC:Array id=\"a\"><x>4</x><x href=\"#b\"/></SOAP-ENC:Array>"
       "<d id=\"b\">5</d>",
       {4, 5}},
      // A partly sent array starts at its offset; a sparse one places each item by
      // its position. Items not sent are 0, up to the declared length.
      {"<ns1:echoDoubleArray><Value SOAP-ENC:arrayType=\"xsd:double[5]\" "
       "SOAP-ENC:offset=\"[2]\"><i>3</i><i>4</i></Value></ns1:echoDoubleArray>",
       {0, 0, 3, 4, 0}},
      {"<ns1:echoDoubleArray><Value SOAP-ENC:arrayType=\"xsd:double[4]\">"
       "<i SOAP-ENC:position=\"[3]\">7</i><i SOAP-ENC:position=\" [1] \">6</i>"
       "</Value></ns1:echoDoubleArray>",
       {0, 6, 0, 7}},
      {"<ns1:echoDoubleArray><Value SOAP-ENC:offset=\"[1]\"><i>1</i>"
       "<i SOAP-ENC:position=\"[0]\">2</i></Value></ns1:echoDoubleArray>",
       {2, 1}},
  };
  for (const auto& c : kCases) {
    std::vector<double> got;
    TSoapCall call = Read(c.body);
    for (const auto& v : call.Args.at(0).AsArray()) got.push_back(v.AsDouble());
    EXPECT_EQ(c.out, got) << c.body;
  }
}

TEST(SoapRead, EmployeeInlineOrReferenced) {
  for (const char* body :
       {"<ns1:echoMyEmployee><Value><LastName>Ivanov</LastName><FirstName>Petr</FirstName>"
        "<Salary>1200.5</Salary></Value></ns1:echoMyEmployee>",
        "<ns1:echoMyEmployee><Value href=\"#1\"/></ns1:echoMyEmployee>"
        "<ns2:TMyEmployee id=\"1\"><Salary>1200.5</Salary><FirstName>Petr</FirstName>"
        "<LastName>Ivanov</LastName></ns2:TMyEmployee>"}) {
    auto e = std::dynamic_pointer_cast<TMyEmployee>(Read(body).Args.at(0).AsObject());
    ASSERT_TRUE(e) << body;
    EXPECT_EQ("Ivanov", e->LastName());
    EXPECT_EQ("Petr", e->FirstName());
    EXPECT_EQ(1200.5, e->Salary());
  }
}

TEST(SoapRead, TextIsAllTheCharacterDataInsideAndReferencesAreDecoded) {
  auto e = std::dynamic_pointer_cast<TMyEmployee>(
      Read("<ns1:echoMyEmployee><Value href=\"#a&amp;b\"/></ns1:echoMyEmployee>"
           "<v id=\"a&#38;b\"><LastName>x&amp;y<![CDATA[<z>]]>&#65;<i>in</i>!</LastName>"
           "<!-- no text --><FirstName> P </FirstName></v>")
          .Args.at(0)
          .AsObject());
  ASSERT_TRUE(e);
  EXPECT_EQ("x&y<z>Ain!", e->LastName());
  EXPECT_EQ(" P ", e->FirstName());
}

// Bodies of many small elements: the XML parser's own tree spent two nodes of
// over 100 bytes on each 18-byte item, and a request took over 20 times its size;
// 48-byte elements made a body of empty elements cost 12 times its size.
TEST(SoapRead, ManySmallElementsCostASmallMultipleOfTheEnvelope) {
  xmlFreeFunc oldFree;
  xmlMallocFunc oldMalloc;
  xmlReallocFunc oldRealloc;
  xmlStrdupFunc oldStrdup;
  xmlMemGet(&oldFree, &oldMalloc, &oldRealloc, &oldStrdup);
  xmlMemSetup(heap_counter::Free, heap_counter::Malloc, heap_counter::Realloc,
              [](const char* s) { return heap_counter::Strdup(s); });
  const struct {
    const char* unit;
    bool read;  // read as an array of doubles; else refused after the parse
    size_t bytesPerByte;
  } kShapes[] = {
      {"<item>12.25</item>", true, 8}, {"<a/>", false, 8}, {"<a b=\"\" c=\"\"/>", false, 8}};
  for (const auto& shape : kShapes) {
    std::string items;
    for (int i = 0; i < 50000; ++i) items += shape.unit;
    const std::string envelope =
        Envelope("<ns1:echoDoubleArray><Value>" + items + "</Value></ns1:echoDoubleArray>");
    heap_counter::ResetPeak();
    const size_t before = heap_counter::Live();
    try {
      TSoapCall call = ReadSoapRequest(envelope, ISoapTestInterface(), kModuleOptions);
      EXPECT_TRUE(shape.read) << shape.unit;
      EXPECT_EQ(50000u, call.Args.at(0).AsArray().size());
    } catch (const ESoapReadError& e) {
      EXPECT_FALSE(shape.read) << e.Message();
      EXPECT_EQ("Value[0]: '' is not a valid double", e.Message());
    }
    EXPECT_LE(heap_counter::Peak() - before, shape.bytesPerByte * envelope.size()) << shape.unit;
  }
  xmlMemSetup(oldFree, oldMalloc, oldRealloc, oldStrdup);
}

TEST(SoapRead, FailuresNameTheirCause) {
  const struct {
    std::string envelope;
    const char* message;
  } kCases[] = {
      {"<a><b></a>", "Invalid SOAP envelope: Premature end of data in tag a line 1 (line 1)"},
      {"<Envelope/>", "Invalid SOAP envelope: the root element is not a SOAP 1.1 Envelope"},
      {"<e:Envelope xmlns:e=\"http://www.w3.org/2003/05/soap-envelope\"><e:Body/></e:Envelope>",
       "Invalid SOAP envelope: the root element is not a SOAP 1.1 Envelope"},
      {"<e:Envelope xmlns:e=\"http://schemas.xmlsoap.org/soap/envelope/\"/>",
       "Invalid SOAP envelope: no Body element"},
      {Envelope(""), "The SOAP body names no method"},
      {Envelope("<ns1:echoTwice/>"), "Method echoTwice not found in interface ISoapTest"},
      {Envelope("<ns1:echoDouble><Value href=\"#9\"/></ns1:echoDouble>"),
       "Reference '#9' not found"},
      {Envelope("<ns1:echoDouble><Value href=\"#c\"/></ns1:echoDouble><v id=\"c\" href=\"#c\"/>"),
       "Circular reference '#c'"},
      {Envelope("<ns1:echoDouble><Value xsi:nil=\"true\"/></ns1:echoDouble>"),
       "Value: nil is not a valid double"},
      {Envelope("<ns1:echoDoubleArray><Value><i>1</i><i>x</i></Value></ns1:echoDoubleArray>"),
       "Value[1]: 'x' is not a valid double"},
      {Envelope("<ns1:echoDoubleArray><Value SOAP-ENC:offset=\"[-1]\"><i>1</i></Value>"
                "</ns1:echoDoubleArray>"),
       "Value: '[-1]' is not a valid array position"},
      {Envelope("<ns1:echoDoubleArray><Value><i SOAP-ENC:position=\"[1,2]\">1</i></Value>"
                "</ns1:echoDoubleArray>"),
       "Value[0]: '[1,2]' is not a valid array position"},
      {Envelope("<ns1:echoDoubleArray><Value><i SOAP-ENC:position=\"[99999999999]\">1</i>"
                "</Value></ns1:echoDoubleArray>"),
       "Value[0]: '[99999999999]' is not a valid array position"},
      {Envelope("<ns1:echoDoubleArray><Value SOAP-ENC:arrayType=\"xsd:double[2000000]\">"
                "<i SOAP-ENC:position=\"[1]\">1</i></Value></ns1:echoDoubleArray>"),
       "Value: an array of 2000000 items is too long"},
      {Envelope("<ns1:echoMyEmployee><Value><Salary>lots</Salary></Value></ns1:echoMyEmployee>"),
       "Value.Salary: 'lots' is not a valid double"},
      {"<!DOCTYPE e [<!ENTITY x \"xx\">]>" + Envelope("<ns1:echoDouble/>").substr(22),
       "Invalid SOAP envelope: a document type declaration is not allowed"},
  };
  for (const auto& c : kCases) {
    EXPECT_TRUE(ThrowsExactly<ESoapReadError>(
        [&] { ReadSoapRequest(c.envelope, ISoapTestInterface(), kModuleOptions); },
        std::string("ESoapReadError: ") + c.message))
        << c.envelope;
  }
}
