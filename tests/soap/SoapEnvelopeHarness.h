// Request envelopes for the tests of the envelope reader and what it uses: the
// module's conversion options and a body wrapped in the usual prefixes.
#pragma once

#include <string>

#include "soap/SoapEnvelope.h"
#include "soap/SoapTestIntf.h"

inline const TSOAPConvertOptions kModuleOptions{soSendMultiRefObj, soTryAllSchema};

// A request envelope around body, with the usual prefixes declared on the root.
inline std::string Envelope(const std::string& body,
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

inline TSoapCall Read(const std::string& body,
                      const TSOAPConvertOptions& options = kModuleOptions) {
  return ReadSoapRequest(Envelope(body), ISoapTestInterface(), options);
}

inline double ReadDouble(const std::string& text) {
  return Read("<ns1:echoDouble><Value xsi:type=\"xsd:double\">" + text +
              "</Value></ns1:echoDouble>")
      .Args.at(0)
      .AsDouble();
}
