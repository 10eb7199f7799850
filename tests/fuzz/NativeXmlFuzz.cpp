// Feeds arbitrary bytes to the XML reader and makes every read the order intake
// makes on whatever tree comes out. Failures must be the reader's own exceptions;
// anything else (a crash, a leak, a hang, undefined behaviour) is a finding.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "xml/NativeXml.h"

namespace {

void ReadValues(const TXmlNode& node) {
  volatile size_t sink = node.TextValue().size();
  try {
    sink = sink + static_cast<size_t>(node.IntegerValue());
  } catch (const EConvertError&) {
  }
  try {
    sink = sink + node.BooleanValue();
  } catch (const Exception&) {
  }
  (void)sink;
}

void Walk(const TXmlNode& node) {
  ReadValues(node);
  static const char* const kNames[] = {"GUID",  "DEVICEID", "PIN",    "TABLE",
                                       "FOODS", "count",    "weight", "isModificator"};
  for (const char* name : kNames)
    if (const TXmlNode* child = node.FindChild(name)) ReadValues(*child);
  for (int i = -1; i <= node.ChildCount(); ++i)
    if (const TXmlNode* child = node.ChildAt(i)) Walk(*child);
  for (int i = 0; i < node.AttributeCount(); ++i) (void)node.AttributeAt(i).Value.size();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TNativeXml doc;
  try {
    doc.LoadFromText(std::string_view(reinterpret_cast<const char*>(data), size));
  } catch (const EFilerError&) {
    return 0;
  }
  if (!doc.FirstElement()) __builtin_trap();  // a load without a root must fail
  for (int i = 0; i < doc.RootNodeCount(); ++i) Walk(*doc.RootNodeAt(i));
  return 0;
}
