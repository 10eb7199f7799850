#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "soap/SoapEnvelope.h"
#include "soap/SoapTestIntf.h"
#include "tests/soap/SoapEnvelopeHarness.h"
#include "tests/soap/XPath.h"

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
