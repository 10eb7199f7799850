// Reading a request envelope: the method named in the body and its arguments.
#include <algorithm>
#include <map>
#include <memory>

#include "runtime/Text.h"
#include "soap/SoapEnvelope.h"
#include "soap/SoapEnvelopeScan.h"
#include "soap/SoapEnvelopeTree.h"

namespace {

using soap_envelope::CheckAttributeCounts;
using soap_envelope::Same;
using soap_envelope::Str;
using soap_envelope::TElement;
using soap_envelope::TEnvelopeTree;
using soap_envelope::XmlTrim;

const char kSchemaInstance2000[] = "http://www.w3.org/2000/10/XMLSchema-instance";
const char kSchemaInstance1999[] = "http://www.w3.org/1999/XMLSchema-instance";
// Hops along href chains before a reference counts as circular.
const int kMaxReferenceHops = 32;
// The longest array a request may carry; offsets, positions and declared lengths
// beyond it would make a short message allocate without bound.
const size_t kMaxArrayItems = 1 << 20;

// The value a parameter, or an array item, takes when the request leaves it out.
TSoapValue EmptyValue(const TSoapType& type) {
  switch (type.Kind) {
    case TSoapTypeKind::tkDouble:
      return TSoapValue::Double(0);
    case TSoapTypeKind::tkString:
      return TSoapValue::Text("");
    case TSoapTypeKind::tkEnumeration:
      return TSoapValue::Ordinal(0);
    case TSoapTypeKind::tkDynArray:
      return TSoapValue::Array({});
    case TSoapTypeKind::tkClass:
      return TSoapValue::Object(nullptr);
  }
  return TSoapValue();
}

bool Is(const TEnvelopeTree& tree, const TElement* n, const char* ns, const char* local) {
  return n && Same(n->Name, local) && Same(tree.Href(n), ns);
}

class TEnvelopeReader {
 public:
  TEnvelopeReader(const TEnvelopeTree& tree, const TElement* body,
                  const TSOAPConvertOptions& options)
      : FTree(tree), FBody(body) {
    FInstanceNS.push_back(kXmlSchemaInstanceNS);
    if (options.count(soTryAllSchema)) {
      FInstanceNS.push_back(kSchemaInstance2000);
      FInstanceNS.push_back(kSchemaInstance1999);
    }
    Index(body);
  }

  TSoapValue Read(const TElement* n, const TSoapType& type, const std::string& what) {
    n = Resolve(n);
    if (IsNil(n)) {
      switch (type.Kind) {
        case TSoapTypeKind::tkString:
          return TSoapValue::Text("");
        case TSoapTypeKind::tkDynArray:
          return TSoapValue::Array({});
        case TSoapTypeKind::tkClass:
          return TSoapValue::Object(nullptr);
        default:
          throw ESoapReadError(what + ": nil is not a valid " + type.Name);
      }
    }
    switch (type.Kind) {
      case TSoapTypeKind::tkDouble:
        return TSoapValue::Double(SoapStrToFloat(XmlTrim(FTree.Content(n)), what));
      case TSoapTypeKind::tkString:
        return TSoapValue::Text(FTree.Content(n));
      case TSoapTypeKind::tkEnumeration: {
        std::string text = XmlTrim(FTree.Content(n));
        for (size_t i = 0; i < type.EnumNames.size(); ++i)
          if (type.EnumNames[i] == text) return TSoapValue::Ordinal(static_cast<int32_t>(i));
        throw ESoapReadError(what + ": '" + text + "' is not a member of " + type.Name);
      }
      case TSoapTypeKind::tkDynArray:
        return TSoapValue::Array(ReadArray(n, *type.ElementType, what));
      case TSoapTypeKind::tkClass: {
        std::shared_ptr<TRemotable> object = type.Create();
        for (const auto& p : type.Properties)
          if (const TElement* c = Child(n, p.Name))
            p.Set(*object, Read(c, *p.Type, what + "." + p.Name));
        return TSoapValue::Object(std::move(object));
      }
    }
    throw ESoapReadError(what + ": unsupported type " + type.Name);
  }

  // The items in order. A partly sent array starts at its SOAP-ENC:offset, an item
  // with a SOAP-ENC:position goes there; when either is used the array has its
  // declared length, and items not sent keep their empty value.
  TSoapValue::TArray ReadArray(const TElement* n, const TSoapType& itemType,
                               const std::string& what) {
    TSoapValue::TArray items;
    // Room for the items sent once the first one is read, so that the array is not
    // copied as it grows and a body of items that cannot be read costs none.
    size_t children = 0;
    for (const TElement* c = FTree.FirstChild(n); c && children <= kMaxArrayItems;
         c = FTree.Next(c))
      ++children;
    std::string text;
    bool placed = EncodingAttribute(n, "offset", text);
    size_t next = placed ? ArrayPosition(text, what) : 0;
    int sent = 0;
    for (const TElement* c = FTree.FirstChild(n); c; c = FTree.Next(c), ++sent) {
      if (EncodingAttribute(c, "position", text)) {
        next = ArrayPosition(text, what + "[" + IntToStr(sent) + "]");
        placed = true;
      }
      CheckLength(next + 1, what);
      if (items.size() <= next) items.resize(next + 1, EmptyValue(itemType));
      items[next] = Read(c, itemType, what + "[" + IntToStr(static_cast<int64_t>(next)) + "]");
      ++next;
      if (sent == 0) items.reserve(std::max(items.size(), std::min(children, kMaxArrayItems)));
    }
    size_t declared = 0;
    if (placed && DeclaredLength(n, declared) && declared > items.size()) {
      CheckLength(declared, what);
      items.resize(declared, EmptyValue(itemType));
    }
    return items;
  }

  const TElement* Child(const TElement* n, const std::string& name) const {
    for (const TElement* c = FTree.FirstChild(n); c; c = FTree.Next(c))
      if (Str(c->Name) == name) return c;
    return nullptr;
  }

 private:
  void Index(const TElement* n) {
    for (const TElement* c = FTree.FirstChild(n); c; c = FTree.Next(c)) {
      std::string id;
      if (FTree.Attribute(c, nullptr, "id", id)) FIds.emplace(id, c);
      Index(c);
    }
  }

  const TElement* Resolve(const TElement* n) {
    std::string href;
    for (int hops = 0; FTree.Attribute(n, nullptr, "href", href); ++hops) {
      if (hops == kMaxReferenceHops) throw ESoapReadError("Circular reference '" + href + "'");
      auto it = href.size() > 1 && href[0] == '#' ? FIds.find(href.substr(1)) : FIds.end();
      if (it == FIds.end()) throw ESoapReadError("Reference '" + href + "' not found");
      n = it->second;
    }
    return n;
  }

  bool EncodingAttribute(const TElement* n, const char* name, std::string& value) const {
    return FTree.Attribute(n, kSoapEncodingNS, name, value);
  }

  // "[k]" of one dimension, k a non-negative decimal.
  static size_t ArrayPosition(const std::string& text, const std::string& what) {
    std::string t = XmlTrim(text);
    size_t value = 0;
    bool ok = t.size() > 2 && t.front() == '[' && t.back() == ']';
    for (size_t i = 1; ok && i + 1 < t.size(); ++i) {
      ok = t[i] >= '0' && t[i] <= '9' && value <= 0x7FFFFFFF;
      value = value * 10 + static_cast<size_t>(t[i] - '0');
    }
    if (!ok || value > 0x7FFFFFFF)
      throw ESoapReadError(what + ": '" + text + "' is not a valid array position");
    return value;
  }

  // The length in SOAP-ENC:arrayType, as in "xsd:double[5]"; none for "[]" or
  // more than one dimension.
  bool DeclaredLength(const TElement* n, size_t& length) {
    std::string type;
    if (!EncodingAttribute(n, "arrayType", type)) return false;
    size_t open = type.rfind('[');
    if (open == std::string::npos || type.back() != ']' || open + 2 >= type.size()) return false;
    length = 0;
    for (size_t i = open + 1; i + 1 < type.size(); ++i) {
      if (type[i] < '0' || type[i] > '9' || length > kMaxArrayItems) return false;
      length = length * 10 + static_cast<size_t>(type[i] - '0');
    }
    return true;
  }

  static void CheckLength(size_t length, const std::string& what) {
    if (length > kMaxArrayItems)
      throw ESoapReadError(what + ": an array of " + IntToStr(static_cast<int64_t>(length)) +
                           " items is too long");
  }

  bool IsNil(const TElement* n) const {
    for (const char* ns : FInstanceNS)
      for (const char* name : {"nil", "null"}) {
        std::string v;
        if (!FTree.Attribute(n, ns, name, v)) continue;
        std::string s = XmlTrim(v);
        if (s == "true" || s == "1") return true;
      }
    return false;
  }

  const TEnvelopeTree& FTree;
  const TElement* FBody;
  std::vector<const char*> FInstanceNS;
  std::map<std::string, const TElement*> FIds;
};

}  // namespace

TSoapCall ReadSoapRequest(const std::string& envelope, const TSoapInterface& intf,
                          const TSOAPConvertOptions& options) {
  CheckAttributeCounts(envelope);
  TEnvelopeTree tree;
  tree.Parse(envelope);
  const TElement* root = tree.Root();
  if (!Is(tree, root, kSoapEnvelopeNS, "Envelope"))
    throw ESoapReadError("Invalid SOAP envelope: the root element is not a SOAP 1.1 Envelope");
  const TElement* body = tree.FirstChild(root);
  if (Is(tree, body, kSoapEnvelopeNS, "Header")) body = tree.Next(body);
  if (!Is(tree, body, kSoapEnvelopeNS, "Body"))
    throw ESoapReadError("Invalid SOAP envelope: no Body element");
  const TElement* call = tree.FirstChild(body);
  if (!call) throw ESoapReadError("The SOAP body names no method");

  TSoapCall result;
  result.Method = intf.FindMethod(Str(call->Name));
  if (!result.Method)
    throw ESoapReadError("Method " + Str(call->Name) + " not found in interface " + intf.Name);
  TEnvelopeReader reader(tree, body, options);
  for (const auto& p : result.Method->Params) {
    const TElement* arg = reader.Child(call, p.Name);
    result.Args.push_back(arg ? reader.Read(arg, *p.Type, p.Name) : EmptyValue(*p.Type));
  }
  return result;
}
