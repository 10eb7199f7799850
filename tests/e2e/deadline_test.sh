#!/bin/bash
# The request deadline (REQUEST TIMEOUT) against a database that goes silent
# after the connect (its relay stopped by SIGSTOP: the connection stays open and
# nothing answers), through lighttpd as CGI (an import caught midway) and with
# mod_fastcgi (one process, a kept connection): each request is answered within
# its deadline plus a few seconds, never rerun; once the relay resumes the next
# request is served and each order is stored once.
. "$(dirname "$0")/service_env.sh" "$1"
shopt -s extglob

relay_start
stall() { kill -STOP -- "-$RELAY"; }
resume() { kill -CONT -- "-$RELAY" 2>/dev/null || true; }
e2e_at_exit resume
settings() { settings_for "127.0.0.1/$RELAY_PORT:$DBFILE"; printf 'REQUEST TIMEOUT=%s\r\n' "$1"; }
MODE=cgi new_site cgi "$(settings 6)"
MODE=fastcgi FCGI_PROCESSES=1 new_site fc "$(settings 4)"
stored() { sql "select count(*) || '|' || (select count(*) from Restaurant_ImportedOrderRows
  where guidOrder = '$1') from Restaurant_ImportedOrders where guid = '$1';"; }
# detached SITE: the server holds no attachment of SITE's program (once the
# relay passes on a closed connection, the server rolls back and drops it).
detached() {
  [ "$(sql "select count(*) from mon\$attachments where mon\$remote_process = '$WORK/$1/dorvana';")" = 0 ]
}
post() { curl -s --max-time 120 --data-binary "@$WORK/$1.xml" "$2?q=addorder"; }

# within NAME LIMIT STATUSES URL [CURL-ARGS...]: the status matches STATUSES
# and the answer came in under LIMIT seconds; for a 500 the page names the
# deadline (and never says that nothing was stored).
within() {
  local name=$1 limit=$2 want=$3 url=$4 got page=$WORK/page.$BASHPID
  shift 4
  rm -f "$page"
  got=$(curl -s --max-time 60 -o "$page" -w '%{http_code} %{time_total}' "$@" "$url") || true
  got="${got%% *} $(printf '%.0f' "${got#* }")"
  if [[ ${got%% *} == $want ]] && [ "${got#* }" -lt "$limit" ] &&
    { [ "${got%% *}" != 500 ] || grep -q "deadline of [0-9]* seconds" "$page"; } &&
    ! grep -qi "nothing was stored" "$page"; then
    pass "$name ($got s)"
  else
    fail "$name: $got $(head -c 300 "$page" 2>/dev/null)"
  fi
}

"$E2E_ROOT/bench/intake/order.sh" fc-1 3 > "$WORK/fc-1.xml"
check "fastcgi: the order imported" "$(post fc-1 "$URL_fc")" ok
stall
within "fastcgi, stalled: the re-post answered within the deadline" 7 500 "$URL_fc?q=addorder" \
  --data-binary "@$WORK/fc-1.xml"
resume
within "fastcgi, resumed: the next request served" 3 200 "$URL_fc?q=getsprstewards"
stall
within "fastcgi, stalled: a list answered within the deadline" 7 500 "$URL_fc?q=getsprstewards"
resume
wait_for 30 detached fc || fail "fastcgi: the stopped request still holds its attachment"
check "fastcgi, resumed: the re-post answers ok, stored once" "$(post fc-1 "$URL_fc")|$(stored fc-1)" "ok|1|3"
grep -q "deadline of 4 seconds" "$WORK/fc/.lighttpd/error.log" &&
  pass "fastcgi: the failure's log line" || fail "fastcgi: no log line naming the deadline"

# A new CGI process meets the stalled relay at its connect, cut to what is left
# of the deadline: the connect failure (200, as text) or the deadline's page.
"$E2E_ROOT/bench/intake/order.sh" cgi-1 20000 > "$WORK/cgi-1.xml"
within "cgi, stalled: the import answered within the deadline" 9 500 "$URL_cgi?q=addorder" \
  --data-binary "@$WORK/cgi-1.xml" > "$WORK/big.result" &
POST=$!
# Caught midway: the rows are going in once the program has sent the relay more
# than a connect and a small order take.
midway() {
  ss -Htni state established "( dport = :$RELAY_PORT )" | grep -o 'bytes_sent:[0-9]*' |
    awk -F: '$2 > 262144 { found = 1 } END { exit !found }'
}
wait_for 20 midway || fail "cgi: the import did not start"
stall
within "cgi, stalled: a list answered within the deadline" 9 '@(200|500)' "$URL_cgi?q=getsprstewards"
within "cgi, stalled: the re-post answered within the deadline" 9 '@(200|500)' \
  "$URL_cgi?q=addorder" --data-binary "@$WORK/cgi-1.xml"
wait "$POST"
read -r big < "$WORK/big.result"
case $big in "ok   "*) pass "${big#ok   }" ;; *) fail "${big#FAIL }" ;; esac
resume
wait_for 30 detached cgi || fail "cgi: the stopped import still holds its attachment"
# The whole import takes more than 6 s here: the settings, read by every
# request, give the re-post time.
settings 120 > "$WORK/cgi/dorvana.def"
check "cgi, resumed: the re-post answers ok, stored once" "$(post cgi-1 "$URL_cgi")|$(stored cgi-1)" "ok|1|20000"
finish
