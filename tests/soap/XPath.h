// XPath queries over an XML text, with the SOAP, WSDL and example prefixes bound.
#pragma once

#include <libxml/parser.h>
#include <libxml/tree.h>
#include <libxml/xpath.h>
#include <libxml/xpathInternals.h>

#include <string>

// A parsed document; WellFormed() is false when the text is not XML.
class TXPath {
 public:
  explicit TXPath(const std::string& xml)
      : FDoc(xmlReadMemory(xml.data(), static_cast<int>(xml.size()), nullptr, nullptr,
                           XML_PARSE_NONET)) {
    if (!FDoc) return;
    FCtx = xmlXPathNewContext(FDoc);
    auto reg = [&](const char* p, const char* ns) {
      xmlXPathRegisterNs(FCtx, reinterpret_cast<const xmlChar*>(p),
                         reinterpret_cast<const xmlChar*>(ns));
    };
    reg("env", "http://schemas.xmlsoap.org/soap/envelope/");
    reg("enc", "http://schemas.xmlsoap.org/soap/encoding/");
    reg("xsi", "http://www.w3.org/2001/XMLSchema-instance");
    reg("t", "urn:SoapTestIntf-ISoapTest");
    reg("ty", "urn:SoapTestIntf");
    reg("w", "http://schemas.xmlsoap.org/wsdl/");
    reg("ws", "http://schemas.xmlsoap.org/wsdl/soap/");
    reg("xs", "http://www.w3.org/2001/XMLSchema");
  }
  ~TXPath() {
    if (FCtx) xmlXPathFreeContext(FCtx);
    if (FDoc) xmlFreeDoc(FDoc);
  }
  bool WellFormed() const { return FDoc != nullptr; }
  std::string String(const std::string& expr) const {
    xmlXPathObjectPtr r = xmlXPathEvalExpression(
        reinterpret_cast<const xmlChar*>(("string(" + expr + ")").c_str()), FCtx);
    std::string s = r && r->stringval ? reinterpret_cast<const char*>(r->stringval) : "<none>";
    xmlXPathFreeObject(r);
    return s;
  }
  double Count(const std::string& expr) const {
    xmlXPathObjectPtr r = xmlXPathEvalExpression(
        reinterpret_cast<const xmlChar*>(("count(" + expr + ")").c_str()), FCtx);
    double n = r ? r->floatval : -1;
    xmlXPathFreeObject(r);
    return n;
  }

 private:
  xmlDocPtr FDoc;
  xmlXPathContextPtr FCtx = nullptr;
};
