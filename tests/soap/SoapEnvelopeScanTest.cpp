#include "soap/SoapEnvelopeScan.h"

#include <gtest/gtest.h>

#include <string>

#include "soap/SoapEnvelope.h"
#include "soap/SoapTestIntf.h"
#include "tests/soap/SoapEnvelopeHarness.h"

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
