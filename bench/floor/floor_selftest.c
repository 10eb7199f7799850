/* Checks the floors' text forms against hand-worked values before any timing:
   a floor that formats wrongly would make the byte comparison fail for reasons
   that have nothing to do with the program. Exit code 1 on the first mismatch. */
#include "floor_cgi.h"

static int failures;

static void expect(const char* what, const char* want, buf_t* got) {
  const char* g = got->p ? got->p : "";
  if (strcmp(want, g) != 0) {
    fprintf(stderr, "floor_selftest: %s: want \"%s\", got \"%s\"\n", what, want, g);
    failures++;
  }
  got->n = 0;
  if (got->p) got->p[0] = 0;
}

int main(void) {
  buf_t b = {0};
  char what[64];
  static const struct {
    double v;
    const char* text;
  } kPrices[] = {{12.5, "12.5"},    {12, "12"},        {0.125, "0.13"},    {0.004, "0"},
                 {-0.004, "0"},     {-3.456, "-3.46"}, {1234.5, "1234.5"}, {0.1, "0.1"},
                 {2.675, "2.67"},   {99.999, "100"},   {100, "100"},       {0.5, "0.5"},
                 {-0.005, "-0.01"}, {0, "0"},          {9.995, "9.99"}};
  for (size_t i = 0; i < sizeof kPrices / sizeof *kPrices; ++i) {
    add_price(&b, kPrices[i].v);
    snprintf(what, sizeof what, "price %.17g", kPrices[i].v);
    expect(what, kPrices[i].text, &b);
  }
  static const struct {
    double v;
    const char* text;
  } kGeneral[] = {{1, "1"},
                  {0.5, "0.5"},
                  {-2.25, "-2.25"},
                  {123.45, "123.45"},
                  {1e20, "1E20"},
                  {0.00001, "1E-5"},
                  {(double)0.1f, "0.100000001490116"},
                  {0, "0"},
                  {1e14, "100000000000000"},
                  {1e15, "1E15"},
                  {0.001, "0.001"},
                  {-7, "-7"}};
  for (size_t i = 0; i < sizeof kGeneral / sizeof *kGeneral; ++i) {
    add_general(&b, kGeneral[i].v);
    snprintf(what, sizeof what, "number %.17g", kGeneral[i].v);
    expect(what, kGeneral[i].text, &b);
  }
  /* Trimmed, converted to UTF-8 and escaped: "  A&<Ж>\x98 " */
  add_value(&b, "  A&<\xC6>\x98\t ", 10, 1);
  expect("value", "A&amp;&lt;\xD0\x96&gt;\xEF\xBF\xBD", &b);
  add_value(&b, " \x01 ", 3, 0);
  expect("blank value", "", &b);

  fields_t f;
  split_fields("q=test&&a=1+2%41", 16, 0, &f);
  fields_text(&f, &b);
  expect("query fields", "q=test\r\n\r\na=1 2A\r\n", &b);
  buf_str(&b, field_value(&f, "Q"));
  expect("field Q", "test", &b);
  buf_str(&b, field_value(&f, "qq"));
  expect("field qq", "", &b);
  split_fields("\r\n<a>\r\n\r\n<b/>", 13, 1, &f);
  fields_text(&f, &b);
  expect("body fields", "<a>\r\n<b/>\r\n", &b);
  return failures ? 1 : 0;
}
