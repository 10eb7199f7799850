#include "soap/SoapEnvelope.h"

// The namespaces every envelope names.
const char kSoapEnvelopeNS[] = "http://schemas.xmlsoap.org/soap/envelope/";
const char kSoapEncodingNS[] = "http://schemas.xmlsoap.org/soap/encoding/";
const char kXmlSchemaNS[] = "http://www.w3.org/2001/XMLSchema";
const char kXmlSchemaInstanceNS[] = "http://www.w3.org/2001/XMLSchema-instance";
