// Reading and writing SOAP 1.1 envelopes in the rpc style with SOAP 1.1 encoding.
// Requests are parsed with libxml2, namespace-aware (SoapEnvelopeReader.cpp);
// answers are written as text (SoapEnvelopeWriter.cpp).
#pragma once

#include <set>
#include <string>
#include <vector>

#include "runtime/Exception.h"
#include "soap/Invokable.h"
#include "soap/SoapEnvelopeNumbers.h"  // doubles as XML Schema writes them
#include "soap/SoapEnvelopeText.h"     // text escaped for XML

// Raised for an envelope that can't be read or that does not fit the interface.
DORVANA_EXCEPTION(ESoapReadError, Exception);

enum TSOAPConvertOption {
  soSendMultiRefObj,        // objects travel as referenced elements beside the answer
  soTryAllSchema,           // the 1999 and 2000/10 XML Schema namespaces count too
  soDocument,               // document style (not supported; rpc is used)
  soReturnSuccessForFault,  // faults answered with status 200 by the dispatcher
  soUTF8InHeader,           // "charset=UTF-8" in the content type
};
using TSOAPConvertOptions = std::set<TSOAPConvertOption>;

extern const char kSoapEnvelopeNS[];       // http://schemas.xmlsoap.org/soap/envelope/
extern const char kSoapEncodingNS[];       // http://schemas.xmlsoap.org/soap/encoding/
extern const char kXmlSchemaNS[];          // http://www.w3.org/2001/XMLSchema
extern const char kXmlSchemaInstanceNS[];  // http://www.w3.org/2001/XMLSchema-instance

struct TSoapCall {
  const TSoapMethod* Method = nullptr;
  std::vector<TSoapValue> Args;  // one per parameter, in declared order
};

// The most attributes (namespace declarations included) one element of a request
// may carry. The parser compares each attribute of a start tag with every earlier
// one, so their cost grows with the square of their number; an envelope needs a
// handful.
inline constexpr int kMaxSoapAttributes = 256;
// The most namespace declarations a request may have in scope at once: the
// parser searches all of them for each prefix it resolves.
inline constexpr int kMaxSoapNamespaces = 256;

// Reads a request envelope: the method is the element inside the body, the
// arguments its child elements by parameter name (missing ones take their empty
// value). Raises ESoapReadError, also for a start tag with more than
// kMaxSoapAttributes attributes and for more than kMaxSoapNamespaces namespace
// declarations in scope, both found in one pass before parsing.
TSoapCall ReadSoapRequest(const std::string& envelope, const TSoapInterface& intf,
                          const TSOAPConvertOptions& options);

// The answer to a call: "<method>Response" in namespace ns holding "return".
std::string WriteSoapResponse(const TSoapMethod& method, const std::string& ns,
                              const TSoapValue& result, const TSOAPConvertOptions& options);

// Where a fault is answered from. The invoker's envelope has a CR LF after the
// declaration and an empty faultactor; the dispatcher's has blanks between the
// elements and no faultactor.
enum class TSoapFaultLayout { Invoker, Dispatcher };

// A fault envelope with faultcode SOAP-ENV:Server and the message as faultstring.
std::string WriteSoapFault(const std::string& message,
                           TSoapFaultLayout layout = TSoapFaultLayout::Invoker);
