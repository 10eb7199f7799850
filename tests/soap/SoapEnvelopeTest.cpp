#include "soap/SoapEnvelope.h"

#include <gtest/gtest.h>
#include <libxml/xmlmemory.h>

#include <cmath>
#include <limits>
#include <random>

#include "soap/SoapTestIntf.h"
#include "tests/soap/XPath.h"
#include "tests/support/ExpectThrow.h"
#include "tests/support/HeapCounter.h"

namespace {

const TSOAPConvertOptions kModuleOptions{soSendMultiRefObj, soTryAllSchema};

// A request envelope around body, with the usual prefixes declared on the root.
std::string Envelope(const std::string& body,
                     const std::string& schema = "http://www.w3.org/2001/XMLSchema") {
  return "<?xml version=\"1.0\"?>\n"
         "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\""
         " xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\""
         " xmlns:xsd=\"" +
         schema + "\" xmlns:xsi=\"" + schema +
         "-instance\""
         " xmlns:ns1=\"urn:SoapTestIntf-ISoapTest\" xmlns:ns2=\"urn:SoapTestIntf\">"
         "<SOAP-ENV:Body SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">" +
         body + "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
}

TSoapCall Read(const std::string& body, const TSOAPConvertOptions& options = kModuleOptions) {
  return ReadSoapRequest(Envelope(body), ISoapTestInterface(), options);
}

double ReadDouble(const std::string& text) {
  return Read("<ns1:echoDouble><Value xsi:type=\"xsd:double\">" + text +
              "</Value></ns1:echoDouble>")
      .Args.at(0)
      .AsDouble();
}

}  // namespace

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

TEST(SoapRead, Doubles) {
  const struct {
    const char* in;
    double out;
  } kCases[] = {
      {"1.5", 1.5},      {" -2.25\n", -2.25},
      {"1e3", 1000},     {"+7", 7},
      {"0", 0},          {"1.7976931348623157e308", std::numeric_limits<double>::max()},
      {"INF", HUGE_VAL}, {"-INF", -HUGE_VAL},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.out, ReadDouble(c.in)) << c.in;
  EXPECT_TRUE(std::isnan(ReadDouble("NaN")));
}

TEST(SoapRead, RefusesWhatIsNoDouble) {
  const struct {
    const char* in;
    const char* message;
  } kCases[] = {
      {"", "Value: '' is not a valid double"},
      {"1,5", "Value: '1,5' is not a valid double"},
      {"1.5x", "Value: '1.5x' is not a valid double"},
      {"+-1", "Value: '+-1' is not a valid double"},
      {"inf", "Value: 'inf' is not a valid double"},
      {"1e999", "Value: '1e999' is not a valid double"},
  };
  for (const auto& c : kCases) {
    EXPECT_TRUE(ThrowsExactly<ESoapReadError>([&] { ReadDouble(c.in); },
                                              std::string("ESoapReadError: ") + c.message))
        << c.in;
  }
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

// Attributes a0="" a1="" ... on one element.
std::string ManyAttributes(int count, const char* quote = "\"") {
  std::string s;
  for (int i = 0; i < count; ++i) s += " a" + std::to_string(i) + "=" + quote + quote;
  return s;
}

TEST(SoapRead, ElementWithTooManyAttributesIsRefusedBeforeParsing) {
  const std::string kRefused = "Invalid SOAP envelope: an element carries more than 256 attributes";
  const struct {
    std::string envelope;
    bool refused;
  } kCases[] = {
      {Envelope("<ns1:echoDouble" + ManyAttributes(257) + "><Value>1</Value></ns1:echoDouble>"),
       true},
      {Envelope("<ns1:echoDouble><Value" + ManyAttributes(257, "'") +
                ">1</Value>"
                "</ns1:echoDouble>"),
       true},
      // The root already declares six namespaces: 251 more make 257.
      {Envelope("<ns1:echoDouble/>").insert(Envelope("").find('>', 30), ManyAttributes(251)), true},
      {Envelope("<ns1:echoDouble" + ManyAttributes(256) + "><Value>1</Value></ns1:echoDouble>"),
       false},
      {Envelope("<ns1:echoDouble/>").insert(Envelope("").find('>', 30), ManyAttributes(250)),
       false},
      // "=" inside values, comments, CDATA sections and instructions is no attribute.
      {Envelope("<ns1:echoDouble><Value a=\"" + std::string(300, '=') + "\" b='" +
                std::string(300, '=') + "'>1</Value><!--" + ManyAttributes(300) +
                "-->"
                "<![CDATA[<x" +
                ManyAttributes(300) + ">]]><?pi" + ManyAttributes(300) + "?></ns1:echoDouble>"),
       false},
  };
  for (const auto& c : kCases) {
    try {
      TSoapCall call = ReadSoapRequest(c.envelope, ISoapTestInterface(), kModuleOptions);
      EXPECT_FALSE(c.refused) << c.envelope.substr(0, 400);
      EXPECT_EQ("echoDouble", call.Method->Name);
    } catch (const ESoapReadError& e) {
      EXPECT_TRUE(c.refused) << e.Message();
      EXPECT_EQ(kRefused, e.Message());
    }
  }
}

// Declarations x0="u" x1="u" ... named xmlns:p<i>.
std::string Declarations(int from, int count) {
  std::string s;
  for (int i = from; i < from + count; ++i) s += " xmlns:p" + std::to_string(i) + "='u'";
  return s;
}

TEST(SoapRead, TooManyNamespaceDeclarationsInScopeAreRefused) {
  const std::string kRefused =
      "Invalid SOAP envelope: more than 256 namespace declarations are in scope";
  // The root declares six; each wrapper w adds its own until its end tag.
  auto nested = [](int perLevel, int levels, bool closeEach) {
    std::string s;
    for (int l = 0; l < levels; ++l) {
      s += "<w" + Declarations(l * perLevel, perLevel) + ">";
      if (closeEach) s += "</w>";
    }
    if (!closeEach)
      for (int l = 0; l < levels; ++l) s += "</w>";
    return s;
  };
  const struct {
    std::string envelope;
    bool refused;
  } kCases[] = {
      {Envelope("<ns1:echoDouble>" + nested(50, 6, false) + "</ns1:echoDouble>"), true},
      {Envelope("<ns1:echoDouble>" + nested(50, 5, false) + "<v" + Declarations(900, 1) +
                "/></ns1:echoDouble>"),
       false},
      // Siblings each declaring their own: never more than one set in scope.
      {Envelope("<ns1:echoDouble>" + nested(200, 40, true) + "</ns1:echoDouble>"), false},
      {Envelope("<ns1:echoDouble>" + nested(250, 1, false) + "</ns1:echoDouble>"), false},
      {Envelope("<ns1:echoDouble>" + nested(251, 1, false) + "</ns1:echoDouble>"), true},
  };
  for (const auto& c : kCases) {
    try {
      TSoapCall call = ReadSoapRequest(c.envelope, ISoapTestInterface(), kModuleOptions);
      EXPECT_FALSE(c.refused) << c.envelope.substr(0, 400);
      EXPECT_EQ("echoDouble", call.Method->Name);
    } catch (const ESoapReadError& e) {
      EXPECT_TRUE(c.refused) << e.Message();
      EXPECT_EQ(kRefused, e.Message());
    }
  }
}

TEST(SoapWrite, DoubleResponseByteForByte) {
  const TSoapMethod& m = *ISoapTestInterface().FindMethod("echoDouble");
  EXPECT_EQ(
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"http://schemas.xmlsoap.org/soap/envelope/\" "
      "xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\" "
      "xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\" "
      "xmlns:SOAP-ENC=\"http://schemas.xmlsoap.org/soap/encoding/\">"
      "<SOAP-ENV:Body SOAP-ENV:encodingStyle=\"http://schemas.xmlsoap.org/soap/encoding/\">"
      "<NS1:echoDoubleResponse xmlns:NS1=\"urn:SoapTestIntf-ISoapTest\">"
      "<return xsi:type=\"xsd:double\">0.1</return></NS1:echoDoubleResponse>"
      "</SOAP-ENV:Body></SOAP-ENV:Envelope>",
      WriteSoapResponse(m, "urn:SoapTestIntf-ISoapTest", TSoapValue::Double(0.1), kModuleOptions));
}

TEST(SoapWrite, EmployeeTravelsAsAReferencedElement) {
  const TSoapMethod& m = *ISoapTestInterface().FindMethod("echoMyEmployee");
  auto e = std::make_shared<TMyEmployee>();
  e->SetLastName("Smith & <Sons>");
  e->SetSalary(2.5);
  TXPath x(
      WriteSoapResponse(m, "urn:SoapTestIntf-ISoapTest", TSoapValue::Object(e), kModuleOptions));
  ASSERT_TRUE(x.WellFormed());
  std::string href = x.String("/env:Envelope/env:Body/t:echoMyEmployeeResponse/return/@href");
  ASSERT_EQ('#', href[0]);
  std::string ref = "/env:Envelope/env:Body/ty:TMyEmployee[@id='" + href.substr(1) + "']";
  EXPECT_EQ("0", x.String(ref + "/@enc:root"));
  EXPECT_EQ("NS2:TMyEmployee", x.String(ref + "/@xsi:type"));
  EXPECT_EQ("Smith & <Sons>", x.String(ref + "/LastName"));
  EXPECT_EQ("", x.String(ref + "/FirstName"));
  EXPECT_EQ("2.5", x.String(ref + "/Salary"));

  // Without the option the object is written in place.
  TXPath inl(WriteSoapResponse(m, "urn:x", TSoapValue::Object(e), {}));
  EXPECT_EQ("2.5", inl.String("//return/Salary"));
  EXPECT_EQ(0, inl.Count("//@href"));
  // No object at all is a nil accessor.
  TXPath nil(WriteSoapResponse(m, "urn:x", TSoapValue::Object(nullptr), kModuleOptions));
  EXPECT_EQ("true", nil.String("//return/@xsi:nil"));
}

TEST(SoapWrite, ArraysCarryTheirTypeAndLength) {
  const TSoapMethod& m = *ISoapTestInterface().FindMethod("echoDoubleArray");
  const struct {
    std::vector<double> in;
    const char* arrayType;
  } kCases[] = {{{1, -2.5, 1e300}, "xsd:double[3]"}, {{}, "xsd:double[0]"}};
  for (const auto& c : kCases) {
    TSoapValue::TArray a;
    for (double d : c.in) a.push_back(TSoapValue::Double(d));
    TXPath x(
        WriteSoapResponse(m, "urn:SoapTestIntf-ISoapTest", TSoapValue::Array(a), kModuleOptions));
    ASSERT_TRUE(x.WellFormed());
    EXPECT_EQ(c.arrayType, x.String("//return/@enc:arrayType"));
    EXPECT_EQ(c.in.size(), x.Count("//return/item"));
    for (size_t i = 0; i < c.in.size(); ++i)
      EXPECT_EQ(c.in[i], std::stod(x.String("//return/item[" + std::to_string(i + 1) + "]")));
  }
}

TEST(SoapWrite, EnumerationAsMemberName) {
  const TSoapMethod& m = *ISoapTestInterface().FindMethod("echoEnum");
  TXPath x(WriteSoapResponse(m, "urn:SoapTestIntf-ISoapTest", TSoapValue::Ordinal(etAlot),
                             kModuleOptions));
  EXPECT_EQ("etAlot", x.String("//return"));
  EXPECT_THROW(WriteSoapResponse(m, "u", TSoapValue::Ordinal(4), kModuleOptions), EInvalidCast);
}

TEST(SoapWrite, FloatTextsReadBackExactly) {
  const struct {
    double in;
    const char* out;
  } kCases[] = {
      {0.1, "0.1"},      {-0.0, "-0"},        {1e21, "1e+21"},       {123.456, "123.456"},
      {HUGE_VAL, "INF"}, {-HUGE_VAL, "-INF"}, {std::nan(""), "NaN"}, {5e-324, "5e-324"},
  };
  for (const auto& c : kCases) EXPECT_EQ(c.out, SoapFloatToStr(c.in)) << c.in;
  std::mt19937_64 rng(42);
  std::uniform_real_distribution<double> dist(-1e12, 1e12);
  for (int i = 0; i < 1000; ++i) {
    double d = dist(rng) / (1 + i);
    EXPECT_EQ(d, ReadDouble(SoapFloatToStr(d)));
  }
}

TEST(SoapWrite, FaultIsWellFormedWhateverTheMessage) {
  const struct {
    std::string message;
    const char* faultstring;
  } kCases[] = {
      {"plain", "plain"},
      {"a < b & c > d", "a < b & c > d"},
      {std::string("bell\x07 tab\t"), "bell? tab\t"},
      {"\xCF\xF0\xE8\xE2\xE5\xF2", "\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82"},
      {"\xD0\x9F\xD1\x80", "\xD0\x9F\xD1\x80"},
  };
  for (const auto& c : kCases) {
    TXPath x(WriteSoapFault(c.message));
    ASSERT_TRUE(x.WellFormed()) << c.message;
    EXPECT_EQ("SOAP-ENV:Server", x.String("/env:Envelope/env:Body/env:Fault/faultcode"));
    EXPECT_EQ(c.faultstring, x.String("/env:Envelope/env:Body/env:Fault/faultstring"));
    EXPECT_EQ(1, x.Count("/env:Envelope/env:Body/env:Fault/faultactor[.='']"));
  }
}
