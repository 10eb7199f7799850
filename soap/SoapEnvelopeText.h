// Text made safe for the XML an answer or a WSDL document is written in.
#pragma once

#include <string>

// Text made safe for XML content: UTF-8 is kept (other bytes are taken as
// Windows-1251), "&", "<" and ">" are escaped, and control characters XML does not
// allow become "?".
std::string XmlContent(const std::string& text);
// The same, with double quotes escaped for an attribute value.
std::string XmlAttribute(const std::string& text);
