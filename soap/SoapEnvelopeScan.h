// The pre-scanner that bounds a request's attributes and namespace declarations
// before the XML parser sees the text. Used by the envelope reader only.
#pragma once

#include <string>

namespace soap_envelope {

// Refuses, in one pass over the text, a start tag with more than
// kMaxSoapAttributes attributes and more than kMaxSoapNamespaces namespace
// declarations in scope at once.
void CheckAttributeCounts(const std::string& text);

}  // namespace soap_envelope
