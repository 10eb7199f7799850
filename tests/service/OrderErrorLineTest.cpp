#include "service/OrderErrorLine.h"

#include <gtest/gtest.h>

using service::OrderErrorLine;

TEST(OrderErrorLine, PicksTheLineAfterTheLastMarker) {
  const struct {
    const char* message;
    const char* reply;
  } kCases[] = {
      {"exception 5\r\nEX_RESTAURANT_UNKNOWN_ITEM\r\nНет позиции\r\nAt procedure 'P' line: 1",
       "Нет позиции"},
      {"exception 5\nEX_RESTAURANT_A\nfirst\nEX_RESTAURANT_B\rsecond\rtail", "second"},
      {"prefix: EX_RESTAURANT_X raised\nnext line", "next line"},
      {"EX_RESTAURANT_X\r\n\r\nafter blank", ""},
      {"no marker here\r\nsecond line", "no marker here\r\nsecond line"},
      {"exception 1\r\nEX_RESTAURANT_LAST", "exception 1\r\nEX_RESTAURANT_LAST"},
      {"exception 1\r\nEX_RESTAURANT_LAST\r\n", "exception 1\r\nEX_RESTAURANT_LAST\r\n"},
      {"ex_restaurant_lower\nnot taken", "ex_restaurant_lower\nnot taken"},
      {"", ""}};
  for (const auto& c : kCases) EXPECT_EQ(c.reply, OrderErrorLine(c.message)) << c.message;
}
