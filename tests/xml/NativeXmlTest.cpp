#include "xml/NativeXml.h"

#include <gtest/gtest.h>

TEST(NativeXml, ReadsAnOrderOnOneLine) {
  TNativeXml doc;
  doc.LoadFromText("<?xml version=\"1.0\"?><order><GUID>abc</GUID></order>");
  ASSERT_NE(nullptr, doc.FirstElement());
  EXPECT_EQ("abc", doc.FirstElement()->FindChild("guid")->TextValue());
}
