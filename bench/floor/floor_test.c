/* The least a CGI program can do to answer q=test: the diagnostics echo of the
   request's method, body fields and query fields. */
#include "floor_cgi.h"

int main(void) {
  block_termination();
  const char* qs = getenv("QUERY_STRING");
  fields_t query, content;
  split_fields(qs ? qs : "", qs ? strlen(qs) : 0, 0, &query);
  buf_t body = {0};
  read_body(&body);
  split_fields(body.p ? body.p : "", body.n, 1, &content);

  buf_t out = {0};
  if (!strcmp(field_value(&query, "q"), "test")) {
    buf_str(&out, "type: ");
    buf_int(&out, method_type());
    buf_str(&out, "\n\r");
    fields_text(&content, &out);
    buf_str(&out, "param_count=");
    buf_int(&out, (long long)query.n);
    buf_str(&out, "\n\rparams: \n\r");
    fields_text(&query, &out);
  }
  send_reply(200, "text/html", out.p ? out.p : "", out.n);
  finish();
}
