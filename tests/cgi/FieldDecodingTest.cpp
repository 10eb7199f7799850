#include "cgi/FieldDecoding.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "runtime/Exception.h"
#include "tests/support/ExpectThrow.h"
#include "tests/support/HeapCounter.h"

namespace {

TEST(FieldDecode, Escapes) {
  const struct {
    const char* in;
    const char* out;
  } kCases[] = {{"", ""},       {"a+b", "a b"},         {"%41%7e", "A~"},
                {"%%", "%"},    {"q%3Dtest", "q=test"}, {"%%41", "%41"},
                {"a%2b", "a+"}, {"%C0", "\xC0"}};
  for (const auto& c : kCases) EXPECT_EQ(c.out, DecodeField(c.in)) << c.in;
}

TEST(FieldDecode, BrokenSequencesRaiseWithThePositionOfThePercent) {
  const struct {
    const char* in;
    bool convert;
    const char* message;
  } kCases[] = {
      {"ab%", false, "Error decoding URL style (%XX) encoded string at position 3"},
      {"%4", false, "Error decoding URL style (%XX) encoded string at position 1"},
      {"x%zz", true, "Invalid URL encoded character (%zz) at position 2"},
      {"%4g1", true, "Invalid URL encoded character (%4g) at position 1"},
  };
  for (const auto& c : kCases)
    EXPECT_EQ(std::string(c.convert ? "EConvertError: " : "EWebBrokerException: ") + c.message,
              ThrownError([&] { DecodeField(c.in); }))
        << c.in;
}

TEST(FieldSplit, SeparatorsLineBreaksAndQuotes) {
  const struct {
    const char* in;
    TStringList out;
  } kCases[] = {
      {"", {}},
      {"a=1&&b=2", {"a=1", "", "b=2"}},
      {"a=1&", {"a=1"}},
      {"x=1\r\n\r\ny=2\r\n", {"x=1", "y=2"}},
      {"a=\"1\" b=\"2\"", {"a=\"1\"", "b=\"2\""}},
      {"\"abc\"def&x", {"abc", "def", "x"}},
      {"a=\"x&y\"&b", {"a=\"x&y\"", "b"}},
      {"a=1\nb", {"a=1", "b"}},
      {"<a t=\"1\">", {"<a t=\"1\""}},  // the byte after the quote is lost
      {"open\"quote&x", {"open\"quote&x"}},
  };
  for (const auto& c : kCases) {
    TStringList list;
    ExtractHTTPFields("&", "", c.in, list);
    EXPECT_EQ(c.out.Lines(), list.Lines()) << c.in;
    TFieldList fields;
    ExtractHTTPFields("&", "", c.in, fields);
    EXPECT_EQ(c.out.Lines(), fields.Lines()) << c.in;
    EXPECT_EQ(c.out.Text(), fields.Text()) << c.in;
  }
}

TEST(FieldSplit, StopsAtNul) {
  TStringList list;
  ExtractHTTPFields("&", "", std::string("a=1&b\0&c", 8), list);
  EXPECT_EQ((std::vector<std::string>{"a=1", "b"}), list.Lines());
  TFieldList fields;
  ExtractHTTPFields("&", "", std::string("a=1&b\0&c", 8), fields);
  EXPECT_EQ("a=1\r\nb\r\n", fields.Text());
}

TEST(FieldList, FieldsMayHoldLineBreaksAndKeepTheirBounds) {
  TFieldList fields;
  // The "&" after a closing quote that ended a quoted field makes an empty field.
  ExtractHTTPFields("&", "", "a=%0D%0A&&\"x\r\ny\"&B=2=3&+", fields);
  ASSERT_EQ(6, fields.Count());
  EXPECT_EQ("a=\r\n", fields[0]);
  EXPECT_EQ("", fields[1]);
  EXPECT_EQ("x\r\ny", fields[2]);
  EXPECT_EQ("", fields[3]);
  EXPECT_EQ("B=2=3", fields[4]);
  EXPECT_EQ(" ", fields[5]);
  EXPECT_EQ("a=\r\n\r\n\r\nx\r\ny\r\n\r\nB=2=3\r\n \r\n", fields.Text());
  EXPECT_EQ("2=3", fields.Values("b"));
  EXPECT_EQ("\r\n", fields.Values("A"));
  EXPECT_EQ("", fields.Values("x"));
  EXPECT_EQ(-1, fields.IndexOfName(""));
  EXPECT_THROW(fields[6], std::out_of_range);
}

TEST(FieldList, DecodingFailureKeepsTheFieldsBeforeIt) {
  TFieldList fields;
  EXPECT_THROW(ExtractHTTPFields("&", "", "a=1&b=%4&c=3", fields), EWebBrokerException);
  EXPECT_EQ("a=1\r\n", fields.Text());
  EXPECT_EQ(1, fields.Count());
}

// A body of separators: every byte an empty field, each followed by CR LF in the
// text. A string object per field cost over 30 bytes for each byte of the body.
TEST(FieldList, ManyEmptyFieldsCostTheirTextAndOneOffsetEach) {
  const std::string body(1 << 20, '&');
  heap_counter::ResetPeak();
  const size_t before = heap_counter::Live();
  TFieldList fields;
  ExtractHTTPFields("&", "", body, fields);
  EXPECT_EQ(1 << 20, fields.Count());
  EXPECT_EQ(2u << 20, fields.Text().size());
  // The text (2 bytes a field) and the offsets (4 bytes a field), allocated once.
  EXPECT_LE(heap_counter::Peak() - before, (6u << 20) + (64u << 10));
}

}  // namespace
