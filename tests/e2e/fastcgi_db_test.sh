#!/bin/bash
# What one FastCGI process keeps between requests, seen from the database: the
# connection stays while the settings stay and is made anew when they change (a
# line removed gives the module's own value back: no role carries over); no
# transaction is left open after a request; a kept connection that was cut is
# made anew once and the request answered; without a settings file there is no
# connection. lighttpd's mod_fastcgi with one process, so every request meets
# the same process. The monitoring tables are read through a second connection
# of the same account (which sees only its own attachments).
export MODE=fastcgi WEB=lighttpd FCGI_PROCESSES=1
. "$(dirname "$0")/service_env.sh" "$1"

sql "create role DORV_CLERK; grant DORV_CLERK to $DB_USER; commit;" >/dev/null
relay_start
VIA_RELAY=127.0.0.1/$RELAY_PORT:$DBFILE
with_role() { settings_for "$1"; printf 'ROLE NAME=DORV_CLERK\r\n'; }
new_site fc "$(with_role "$VIA_RELAY")"
SITE=$WORK/fc
PROGRAM_PATH=$SITE/dorvana

# The program's attachments: "id role" lines, and the count of their transactions.
attachments() {
  sql "select a.mon\$attachment_id || ' ' || trim(a.mon\$role) from mon\$attachments a
       where a.mon\$remote_process = '$PROGRAM_PATH' order by 1;"
}
transactions() {
  sql "select count(*) from mon\$transactions t join mon\$attachments a
       on a.mon\$attachment_id = t.mon\$attachment_id where a.mon\$remote_process = '$PROGRAM_PATH';"
}
# The answer a CGI process gives for the same request in the same folder.
cgi_answer() {
  (cd "$SITE" && env -i SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=GET "QUERY_STRING=$1" "$E2E_PROGRAM" |
    sed -e '1,/^\r$/d')
}
ask() { curl -s "$URL_fc?$1"; }

expected_stewards=$(cgi_answer 'q=getsprstewards')
case $expected_stewards in *"<stewards>"*) pass "cgi: the stewards list" ;; *) fail "cgi: the stewards list: $expected_stewards" ;; esac

check "first request: the list" "$(ask 'q=getsprstewards')" "$expected_stewards"
first=$(attachments)
case $first in *" DORV_CLERK") pass "first request: one attachment with the role ($first)" ;;
  *) fail "first request: attachments '$first'" ;; esac
check "first request: no transaction left open" "$(transactions)" 0

check "second request: the list" "$(ask 'q=getsprfoodgroup&user=1001&device=HALL-1')" \
  "$(cgi_answer 'q=getsprfoodgroup&user=1001&device=HALL-1')"
check "second request: the same attachment kept" "$(attachments)" "$first"
check "second request: no transaction left open" "$(transactions)" 0

# An order, then a duplicate of it and a broken one: each ends its transactions.
order='<ORDER><GUID>kept-1</GUID><DEVICEID>HALL-1</DEVICEID><PIN>1001</PIN><TABLE>3</TABLE><FOODS><f>301<count>1</count><weight>0</weight><isModificator>no</isModificator></f></FOODS></ORDER>'
check "order: imported" "$(curl -s --data-binary "$order" "$URL_fc?q=addorder")" ok
check "order: its duplicate answers ok" "$(curl -s --data-binary "$order" "$URL_fc?q=addorder")" ok
curl -s --data-binary '<ORDER><GUID>kept-2</GUID><TABLE>x</TABLE></ORDER>' "$URL_fc?q=addorder" >/dev/null
check "order: stored once" "$(sql "select count(*) from Restaurant_ImportedOrders where guid = 'kept-1';")" 1
check "orders: the same attachment kept" "$(attachments)" "$first"
check "orders: no transaction left open" "$(transactions)" 0

# The ROLE NAME line removed: a new connection without a role.
settings_for "$VIA_RELAY" >"$SITE/dorvana.def"
check "role removed: the list" "$(ask 'q=getsprstewards')" "$expected_stewards"
second=$(attachments)
case $second in *" NONE") pass "role removed: one attachment without the role ($second)" ;;
  *) fail "role removed: attachments '$second'" ;; esac
if [ "${second%% *}" != "${first%% *}" ]; then pass "role removed: the connection was made anew"; else
  fail "role removed: the old connection was kept"; fi
check "role removed: no transaction left open" "$(transactions)" 0

# The role back, then the connection cut while the process keeps it: the next
# request makes it anew and answers.
with_role "$VIA_RELAY" >"$SITE/dorvana.def"
ask 'q=getsprstewards' >/dev/null
before=$(attachments)
relay_stop
relay_start
check "connection cut while kept: the next request is answered" "$(ask 'q=getsprstewards')" "$expected_stewards"
after=$(attachments)
case $after in *" DORV_CLERK") pass "connection cut: one new attachment ($after)" ;;
  *) fail "connection cut: attachments '$after'" ;; esac
if [ "${after%% *}" != "${before%% *}" ]; then pass "connection cut: made anew"; else fail "connection cut: not made anew"; fi
check "connection cut: an order goes in on the new connection" \
  "$(curl -s --data-binary "${order//kept-1/kept-3}" "$URL_fc?q=addorder")" ok
# Cut while kept, and the server still away: the connect failure, as a CGI
# process answers it.
relay_stop
gone=$(ask 'q=getsprstewards')
case $gone in DorvanaWebInterface.Database:*) pass "server away: the connect failure as text" ;;
  *) fail "server away: '$gone'" ;; esac
check "server away: the same text as a CGI process" "$gone" "$(cgi_answer 'q=getsprstewards')"
relay_start
check "server back: answered" "$(ask 'q=getsprstewards')" "$expected_stewards"

# Another database named: closed and made anew (here: a failing name, answered
# as CGI answers it; then the right one again).
with_role "127.0.0.1:$WORK/db/none.fdb" >"$SITE/dorvana.def"
check "database renamed: the connect failure as a CGI process answers it" \
  "$(ask 'q=getsprstewards')" "$(cgi_answer 'q=getsprstewards')"
check "database renamed: the old connection closed" "$(attachments)" ""
with_role "$VIA_RELAY" >"$SITE/dorvana.def"
check "database named back: answered" "$(ask 'q=getsprstewards')" "$expected_stewards"

# No settings file: no connection, and the answer a CGI process gives.
rm -f "$SITE/dorvana.def"
check "no settings file: the CGI answer" "$(ask 'q=getsprstewards')" "$(cgi_answer 'q=getsprstewards')"
check "no settings file: no connection" "$(attachments)" ""

# The manager's termination signal to a process that has used the database (the
# client library has by then put a signal handler of its own in place): the
# process ends at once, its connection closed.
with_role "$VIA_RELAY" >"$SITE/dorvana.def"
check "before the signal: answered" "$(ask 'q=getsprstewards')" "$expected_stewards"
pid=$(pgrep -x -f "$PROGRAM_PATH" | head -1)
if [ -z "$pid" ]; then fail "termination: the program's process not found"; else
  kill -TERM "$pid"
  ended() { ! kill -0 "$pid" 2>/dev/null; }
  if wait_for 5 ended; then pass "termination: the process ended"; else
    fail "termination: the process still runs 5 s after the signal"; fi
  check "termination: its connection closed" "$(attachments)" ""
fi

finish
