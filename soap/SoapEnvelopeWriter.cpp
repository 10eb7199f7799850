// Writing an answer envelope: a call's result, or a fault.
#include <memory>
#include <vector>

#include "runtime/Text.h"
#include "soap/SoapEnvelope.h"

namespace {

class TEnvelopeWriter {
 public:
  explicit TEnvelopeWriter(const TSOAPConvertOptions& options)
      : FMultiRef(options.count(soSendMultiRefObj) > 0) {}

  // An accessor element: name, type attributes and the value.
  void Value(std::string& out, const std::string& name, const TSoapType& type,
             const TSoapValue& v) {
    if (type.Kind == TSoapTypeKind::tkClass && FMultiRef && v.AsObject()) {
      std::string id = IntToStr(static_cast<int64_t>(FRefs.size()) + 1);
      FRefs.push_back({id, &type, v.AsObject()});
      out += "<" + name + " href=\"#" + id + "\"/>";
      return;
    }
    if (type.Kind == TSoapTypeKind::tkClass && !v.AsObject()) {
      out += "<" + name + " xsi:nil=\"true\"/>";
      return;
    }
    out += "<" + name + " " + TypeAttributes(type, v) + ">";
    Body(out, type, v);
    out += "</" + name + ">";
  }

  // The referenced objects, each a body entry of its own.
  std::string MultiRefs() {
    std::string out;
    for (size_t i = 0; i < FRefs.size(); ++i) {  // an object may add further ones
      TRef r = FRefs[i];
      out += "<NS2:" + r.Type->Name + " id=\"" + r.Id + "\" " +
             TypeAttributes(*r.Type, TSoapValue::Object(r.Object)) + " SOAP-ENC:root=\"0\">";
      Body(out, *r.Type, TSoapValue::Object(r.Object));
      out += "</NS2:" + r.Type->Name + ">";
    }
    return out;
  }

 private:
  struct TRef {
    std::string Id;
    const TSoapType* Type;
    std::shared_ptr<TRemotable> Object;
  };

  static std::string QName(const TSoapType& type) {
    return (type.IsScalar() ? "xsd:" : "NS2:") + type.Name;
  }
  static std::string TypesNS(const TSoapType& type) {
    return " xmlns:NS2=\"" + XmlAttribute(type.Namespace) + "\"";
  }

  static std::string TypeAttributes(const TSoapType& type, const TSoapValue& v) {
    switch (type.Kind) {
      case TSoapTypeKind::tkDouble:
      case TSoapTypeKind::tkString:
        return "xsi:type=\"" + QName(type) + "\"";
      case TSoapTypeKind::tkEnumeration:
      case TSoapTypeKind::tkClass:
        return "xsi:type=\"" + QName(type) + "\"" + TypesNS(type);
      case TSoapTypeKind::tkDynArray: {
        const TSoapType& e = *type.ElementType;
        std::string s = "xsi:type=\"SOAP-ENC:Array\" SOAP-ENC:arrayType=\"" + QName(e) + "[" +
                        IntToStr(static_cast<int64_t>(v.AsArray().size())) + "]\"";
        return e.IsScalar() ? s : s + TypesNS(e);
      }
    }
    return "";
  }

  void Body(std::string& out, const TSoapType& type, const TSoapValue& v) {
    switch (type.Kind) {
      case TSoapTypeKind::tkDouble:
        out += SoapFloatToStr(v.AsDouble());
        break;
      case TSoapTypeKind::tkString:
        out += XmlContent(v.AsText());
        break;
      case TSoapTypeKind::tkEnumeration: {
        int32_t o = v.AsOrdinal();
        if (o < 0 || o >= static_cast<int32_t>(type.EnumNames.size()))
          throw EInvalidCast("Value " + IntToStr(o) + " is out of range for " + type.Name);
        out += type.EnumNames[o];
        break;
      }
      case TSoapTypeKind::tkDynArray:
        for (const auto& item : v.AsArray()) Value(out, "item", *type.ElementType, item);
        break;
      case TSoapTypeKind::tkClass:
        for (const auto& p : type.Properties) Value(out, p.Name, *p.Type, p.Get(*v.AsObject()));
        break;
    }
  }

  bool FMultiRef;
  std::vector<TRef> FRefs;
};

std::string EnvelopeStart() {
  return std::string("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n") +
         "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"" + kSoapEnvelopeNS + "\" xmlns:xsd=\"" +
         kXmlSchemaNS + "\" xmlns:xsi=\"" + kXmlSchemaInstanceNS + "\" xmlns:SOAP-ENC=\"" +
         kSoapEncodingNS + "\">";
}

}  // namespace

std::string WriteSoapResponse(const TSoapMethod& method, const std::string& ns,
                              const TSoapValue& result, const TSOAPConvertOptions& options) {
  TEnvelopeWriter writer(options);
  std::string out = EnvelopeStart();
  out += std::string("<SOAP-ENV:Body SOAP-ENV:encodingStyle=\"") + kSoapEncodingNS + "\">";
  out += "<NS1:" + method.Name + "Response xmlns:NS1=\"" + XmlAttribute(ns) + "\">";
  if (method.Result) writer.Value(out, "return", *method.Result, result);
  out += "</NS1:" + method.Name + "Response>";
  out += writer.MultiRefs();
  out += "</SOAP-ENV:Body></SOAP-ENV:Envelope>";
  return out;
}

std::string WriteSoapFault(const std::string& message, TSoapFaultLayout layout) {
  // Both layouts are kept byte for byte: callers compare the answers they know.
  const bool invoker = layout == TSoapFaultLayout::Invoker;
  std::string out = invoker ? "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                            : "<?xml version=\"1.0\" encoding='UTF-8'?> ";
  out += "<SOAP-ENV:Envelope xmlns:SOAP-ENV=\"";
  out += kSoapEnvelopeNS;
  out += invoker ? "\"><SOAP-ENV:Body><SOAP-ENV:Fault>" : "\" ><SOAP-ENV:Body> <SOAP-ENV:Fault> ";
  out += "<faultcode>SOAP-ENV:Server</faultcode><faultstring>";
  out += XmlContent(message);
  out += "</faultstring>";
  if (invoker) out += "<faultactor></faultactor>";
  out += "</SOAP-ENV:Fault></SOAP-ENV:Body></SOAP-ENV:Envelope>";
  return out;
}
