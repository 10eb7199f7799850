/* The least a CGI program can do to answer q=test: the diagnostics echo of the
   request's method, body fields and query fields. */
#include "floor_cgi.h"

int main(void) {
  block_termination();
  const char* qs = getenv("QUERY_STRING");
  fields_t query;
  split_fields(qs ? qs : "", qs ? strlen(qs) : 0, 0, &query);
  buf_t body = {0};
  read_body(&body);
  test_command(&query, &body);
  finish();
}
