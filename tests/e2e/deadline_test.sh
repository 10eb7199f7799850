#!/bin/bash
shopt -s extglob
# The request deadline (REQUEST TIMEOUT) against a database that goes silent
# after the connect: the relay to the server is stopped (SIGSTOP), so that the
# connection stays open and nothing answers. Through lighttpd as CGI (an import
# caught in the middle) and with mod_fastcgi (one process, a kept connection):
# every request is answered within its deadline plus a few seconds, never rerun,
# and once the relay resumes the next request is served and each order is
# stored once.
. "$(dirname "$0")/service_env.sh" "$1"

ORDER=$E2E_ROOT/bench/intake/order.sh
relay_start
stall() { kill -STOP -- "-$RELAY"; }
resume() {
  kill -CONT -- "-$RELAY"
  sleep 1  # the relay passes on the closed connections; the server rolls back
}
e2e_at_exit resume_quietly
resume_quietly() { [ -z "$RELAY" ] || kill -CONT -- "-$RELAY" 2>/dev/null || true; }

settings() { settings_for "127.0.0.1/$RELAY_PORT:$DBFILE"; printf 'REQUEST TIMEOUT=%s\r\n' "$1"; }
MODE=cgi new_site cgi "$(settings 6)"
MODE=fastcgi FCGI_PROCESSES=1 new_site fc "$(settings 4)"
stored() { sql "select count(*) from Restaurant_ImportedOrders where guid = '$1';"; }

# ask NAME URL [CURL-ARGS...]: status and whole seconds taken ("500 4"); the
# body in $WORK/NAME.
ask() {
  local name=$1 url=$2
  shift 2
  curl -s --max-time 60 -o "$WORK/$name" -w '%{http_code} %{time_total}\n' "$@" "$url" |
    awk '{ printf "%s %d\n", $1, $2 }'
}
# within NAME "STATUS SECONDS" LIMIT [STATUSES]: the status one of STATUSES (a
# pattern, default 500) and the time under LIMIT seconds.
within() {
  local got=$2 limit=$3 want=${4:-500}
  # shellcheck disable=SC2053
  if [[ ${got%% *} == $want ]] && [ "${got#* }" -lt "$limit" ]; then pass "$1 ($got s)"; else fail "$1: $got"; fi
}
names_deadline() {
  if grep -q "deadline of $2 seconds" "$WORK/$1" && ! grep -qi "nothing was stored" "$WORK/$1"; then
    pass "$1: the page names the deadline"
  else
    fail "$1: $(head -c 300 "$WORK/$1")"
  fi
}

# ---- FastCGI: one process and its kept connection -------------------------------
"$ORDER" fc-1 3 > "$WORK/fc-1.xml"
check "fastcgi: the order imported" "$(curl -s --data-binary "@$WORK/fc-1.xml" "$URL_fc?q=addorder")" ok
stall
within "fastcgi, stalled: the re-post answered within the deadline" \
  "$(ask fc-repost "$URL_fc?q=addorder" --data-binary "@$WORK/fc-1.xml")" 7
names_deadline fc-repost 4
resume
within "fastcgi, resumed: the next request served" "$(ask fc-list "$URL_fc?q=getsprstewards")" 3 200
stall
within "fastcgi, stalled: a list answered within the deadline" \
  "$(ask fc-list2 "$URL_fc?q=getsprstewards")" 7
names_deadline fc-list2 4
resume
check "fastcgi, resumed: the re-post answers ok" \
  "$(curl -s --data-binary "@$WORK/fc-1.xml" "$URL_fc?q=addorder")" ok
check "fastcgi: the order stored once" "$(stored fc-1)" 1
if grep -q "deadline of 4 seconds" "$WORK/fc/.lighttpd/error.log"; then
  pass "fastcgi: the failure's log line"
else
  fail "fastcgi: no log line naming the deadline"
fi

# ---- CGI: a large import caught in the middle -----------------------------------
# A new process meets the stalled relay at its connect, cut to what is left of
# the deadline: the connect failure (200, as text) or, when the deadline comes
# first, its page.
"$ORDER" cgi-1 20000 > "$WORK/cgi-1.xml"
ask cgi-big "$URL_cgi?q=addorder" --data-binary "@$WORK/cgi-1.xml" > "$WORK/cgi-big.status" &
POST=$!
sleep 1.5
stall
within "cgi, stalled: a list answered within the deadline" "$(ask cgi-list "$URL_cgi?q=getsprstewards")" 9 '@(200|500)'
within "cgi, stalled: the re-post answered within the deadline" \
  "$(ask cgi-repost "$URL_cgi?q=addorder" --data-binary "@$WORK/cgi-1.xml")" 9 '@(200|500)'
wait "$POST"
within "cgi, stalled: the import answered within the deadline" "$(cat "$WORK/cgi-big.status")" 9
names_deadline cgi-big 6
resume
# The whole import takes longer than 6 s here: the settings, read anew by every
# request, give the re-post time.
settings 120 > "$WORK/cgi/dorvana.def"
check "cgi, resumed: the re-post answers ok" \
  "$(curl -s --max-time 120 --data-binary "@$WORK/cgi-1.xml" "$URL_cgi?q=addorder")" ok
check "cgi: the order stored once with all its rows" \
  "$(stored cgi-1)|$(sql "select count(*) from Restaurant_ImportedOrderRows where guidOrder = 'cgi-1';")" "1|20000"
finish
