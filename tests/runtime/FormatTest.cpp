#include "runtime/Format.h"

#include <gtest/gtest.h>

#include "runtime/Exception.h"

TEST(Format, Directives) {
  EXPECT_EQ("Can't load library fbclient.dll ", Format("Can't load library %s ", {"fbclient.dll"}));
  EXPECT_EQ("a 12 b", Format("a %d b", {12}));
  EXPECT_EQ("-5", Format("%d", {-5}));
  EXPECT_EQ("0000001F", Format("%.8x", {31}));
  EXPECT_EQ("FFFFFFFF", Format("%x", {-1}));
  EXPECT_EQ("100%", Format("100%%", {}));
  EXPECT_EQ("<p>msg\r\n<p><i>/x</i>", Format("<p>%0:s\r\n<p><i>%1:s</i>", {"msg", "/x"}));
  EXPECT_EQ("b a b", Format("%1:s %0:s %s", {"a", "b"}));
  EXPECT_EQ("[  ab][ab  ]", Format("[%4s][%-4s]", {"ab", "ab"}));
  EXPECT_EQ("1.50", Format("%.2f", {1.5}));
  EXPECT_EQ("007", Format("%.3d", {7}));
}

TEST(Format, MismatchRaisesConvertError) {
  for (const char* f : {"%d", "%s", "%", "%q", "%5:s"}) {
    EXPECT_THROW(Format(f, {f[1] == 'd' ? TFormatArg("x") : TFormatArg(1)}), EConvertError) << f;
  }
}
