#!/usr/bin/env bash
# The front end end to end: the program's raw answers when run directly as a CGI
# process, and what a client receives through the web server $WEB (lighttpd,
# apache or nginx; each passes the answer on in its own way, so the answers
# through it have golden files of their own).
source "$(dirname "$0")/harness.sh" "$1"

GET=(SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=GET)

# Run directly: the bytes the program writes.
direct direct_test_get "${GET[@]}" 'QUERY_STRING=q=test&a=1'
direct direct_test_no_protocol REQUEST_METHOD=GET 'QUERY_STRING=q=test&a=1'
direct direct_unknown_q "${GET[@]}" 'QUERY_STRING=q=nothing&user=1'
direct direct_soap_get "${GET[@]}" PATH_INFO=/soap 'QUERY_STRING=q=test'
direct direct_decode_error SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=POST \
  PATH_INFO=/x 'QUERY_STRING=q=test' CONTENT_LENGTH=5 < <(printf 'a=%%zz')
direct direct_test_post SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=POST 'QUERY_STRING=Q=test' \
  CONTENT_LENGTH=19 < <(printf 'x=1\r\n\r\ny=2&z=%%41+b\nrest-not-read')
# The "HTTP_" names stand in for unset plain ones, and HTTP_CONTENT_LENGTH (here
# in hexadecimal) wins over CONTENT_LENGTH.
direct direct_env_fallbacks HTTP_SERVER_PROTOCOL=HTTP/1.0 HTTP_REQUEST_METHOD=put \
  'HTTP_QUERY_STRING=q=test' CONTENT_LENGTH=2 'HTTP_CONTENT_LENGTH=$4' < <(printf 'k=v&rest')
# Without a server protocol only the page goes out; the path is escaped in it.
direct direct_decode_error_no_protocol REQUEST_METHOD=GET 'QUERY_STRING=q=test&a=%4' \
  'PATH_INFO=/<i>&'

# A body declared over the limit is refused before it is read: the command never
# runs, so no archive copy appears.
direct direct_body_too_large SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=POST \
  'QUERY_STRING=q=addorder' CONTENT_LENGTH=16777217 < <(printf '<o><GUID>x</GUID></o>')
if [ -e "$E2E_DIR/Orders" ]; then fail "direct_body_too_large: the refused order was archived"; fi

# Through the web server: what the terminal receives.
serve
fetch_golden http_test_get "$E2E_URL?q=test&a=1"
# An invalid %-escape in the query: lighttpd passes it on as "%25" followed by
# the rest, the others as sent (and the program then answers its 500 page).
fetch_golden http_test_bad_escape "$E2E_URL?q=test&a=%zz"
fetch_golden http_unknown_q "$E2E_URL?q=nothing"
fetch_golden http_soap_get "$E2E_URL/soap?q=test"
fetch_golden http_decode_error --data-binary 'a=%zz' "$E2E_URL/x?q=test"
fetch_golden http_test_post --data-binary $'x=1\r\n\r\ny=2' "$E2E_URL?q=test"

# A query string without "=" reaches a CGI program as its arguments under Apache
# (checked: "--fastcgi 127.0.0.1:PORT"): the program must answer the request as
# CGI and never start listening; the same through every server and mode.
opt_port=$(free_port)
for query in "--fastcgi+127.0.0.1:$opt_port" "--fastcgi+127.0.0.1:$opt_port+--processes+2" --check \
  --processes+0; do
  expected=$( (cd "$E2E_DIR" && env -i SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=GET "QUERY_STRING=$query" \
    "$E2E_PROGRAM" </dev/null) | sed -e '1,/^\r$/d'; echo x)
  code=$(fetch "$E2E_URL?$query" --max-time 20) || true
  check "options in the query $query: answered as CGI" "$code|$(cat "$E2E_OUT/body"; echo x)" "200|$expected"
done
# Every program process given the address has ended (a listener started by one
# would keep it on its command line) before nothing listens counts.
unstarted() { ! pgrep -f -- "127.0.0.1:$opt_port" >/dev/null; }
wait_for 10 unstarted || fail "options in the query: a process with the address still runs"
if listening 127.0.0.1 "$opt_port"; then fail "options in the query: something listens on $opt_port"; else
  pass "options in the query: nothing listens"; fi

# Nothing in the working folder but the program's own path is reachable: not
# the settings file by any spelling, not the archive, not the program file.
printf 'SERVER NAME=never served\r\nPASSWORD=never served\r\n' >"$E2E_DIR/dorvana.def"
mkdir -p "$E2E_DIR/Orders"
echo '<ORDER><GUID>archived-never-served</GUID></ORDER>' >"$E2E_DIR/Orders/order 1.xml"
SECRETS=('never served' 'archived-never-served' $'\x7fELF')
for path in /dorvana.def /dorvana%2edef /dorvana%2Edef /dorvana/../dorvana.def \
  /dorvana/x/../../dorvana.def /dorvana/./../dorvana.def /dorvana%2f..%2fdorvana.def \
  /DORVANA.DEF /Dorvana.def /dorvana.DEF /dorvana.Def /./dorvana.def //dorvana.def \
  /Orders/ /Orders '/Orders/order%201.xml' '/dorvana/../Orders/order%201.xml' \
  /dorvanaOrders/ /dorvana.new /dorvana/.. /.lighttpd/lighttpd.conf /.apache/httpd.conf \
  /.nginx/nginx.conf /.nginx/run/fcgiwrap.socket /.lighttpd/dorvana.conf; do
  not_served "$path" "${SECRETS[@]}"
done
rm -f "$E2E_DIR/dorvana.def"

finish
