#!/bin/bash
# The operator's tools against a working folder served by lighttpd and a demo
# database: orders archived in every state (imported, missing after an outage or
# a business error, unreadable), then --orders, --replay, --rotate and --check,
# the failure lines in the web server's error log, and --replay racing
# terminals that post the same orders.
. "$(dirname "$0")/service_env.sh" "$1"

new_site good "$(settings_for "$DB")"
SITE=$WORK/good
ORDERS=$SITE/Orders
LOG=$SITE/.lighttpd/error.log

# tool DIR ARGS...: the program as an operator runs it in DIR, without any CGI
# variable; stdout in $E2E_OUT/out, stderr in $E2E_OUT/err; prints the exit code.
tool() {
  local dir=$1 rc=0
  shift
  (cd "$dir" && env -i PATH="$PATH" "$E2E_PROGRAM" "$@" >"$E2E_OUT/out" 2>"$E2E_OUT/err") || rc=$?
  printf "%s|" "$rc"
}
out() { cat "$E2E_OUT/out"; }
order() {  # order GUID TABLE: an order of one row
  printf "<?xml version='1.0' encoding='windows-1251'?>\n<ORDER>\n<GUID>%s</GUID>\n" "$1"
  printf '<DEVICEID>HALL-1</DEVICEID>\n<PIN>1001</PIN>\n<TABLE>%s</TABLE>\n<FOODS>\n' "$2"
  printf '<food>301<count>1</count><weight>0</weight><isModificator>no</isModificator></food>\n'
  printf '</FOODS>\n</ORDER>\n'
}
post() {  # post GUID TABLE: prints the reply
  order "$1" "$2" >"$WORK/post.xml"
  fetch "$URL_good?q=addorder" --data-binary "@$WORK/post.xml" >/dev/null
  cat "$E2E_OUT/body"
}
imported() { sql "select count(*) from Restaurant_ImportedOrders where guid = '$1';"; }
table_of() { sql "select TABLENUMBER from Restaurant_ImportedOrders where guid = '$1';"; }
copy_of() { grep -l "<GUID>$1</GUID>" "$ORDERS"/*.xml | head -1; }
state_of() { awk -F'\t' -v g="$1" '$3 == g { print $1 }' "$E2E_OUT/out" | sort -u | tr '\n' ' '; }
settings() { printf '%s' "$2" >"$1/dorvana.def"; }

# ---- orders in every state ---------------------------------------------------------
check "imported order answers ok" "$(post t-imp-1 5)" ok
check "second imported order answers ok" "$(post t-imp-2 6)" ok
# An outage: the database refuses the program (a wrong password) while two
# orders come in; one of them is posted twice, at two tables.
settings "$SITE" "$(printf 'SERVER NAME=%s\r\nUSER NAME=%s\r\nPASSWORD=wrong\r\n' "$DB" "$DB_USER")"
outage=$(post t-miss-1 7)
case $outage in *"password"*) pass "outage: the terminal gets the connect failure" ;;
  *) fail "outage: reply '$outage'" ;; esac
post t-miss-2 8 >/dev/null
first_copy=$(copy_of t-miss-1)
post t-miss-1 9 >/dev/null
settings "$SITE" "$(settings_for "$DB")"
# A business error: TABLE is no number, so the import fails on every try.
check "bad order: error line" "$(post t-bad x)" "'x' is not a valid integer value"
# Unreadable copies: a broken document and an order without GUID.
fetch "$URL_good?q=addorder" --data-binary '<ORDER><GUID>t-broken' >/dev/null
broken_status=$(fetch "$URL_good?q=addorder" --data-binary '<ORDER><TABLE>1</TABLE></ORDER>')
check "order without GUID: 500 page" "$broken_status" 500
check "nothing of the outage is imported" "$(imported t-miss-1)$(imported t-miss-2)" "00"
# The two copies of t-miss-1: the second (TABLE 9) is made the newer.
second_copy=$(grep -l "<TABLE>9</TABLE>" "$ORDERS"/*.xml)
touch -d '2 hours ago' "$first_copy"
touch -d '1 hour ago' "$second_copy"

# ---- the failure log ----------------------------------------------------------------
# Each failure answered above left one line in lighttpd's error log.
grep -a -q -E "^[0-9T:-]+Z addorder: failure from 127\.0\.0\.1 order t-miss-1: .*password" "$LOG" &&
  pass "log: connect failure with command, address and GUID" || fail "log: connect failure"
grep -a -q "addorder: failure from 127.0.0.1 order t-bad: 'x' is not a valid integer value" "$LOG" &&
  pass "log: order error line" || fail "log: order error line"
grep -a -q "addorder: failure from 127.0.0.1: The order has no GUID element" "$LOG" &&
  pass "log: 500 page of the dispatcher" || fail "log: 500 page"
fetch "$URL_good/soap/INoSuchIntf" -H 'SOAPAction: "x"' --data-binary '<x/>' >/dev/null
grep -a -q "/soap/INoSuchIntf: failure from 127.0.0.1: " "$LOG" &&
  pass "log: SOAP fault of the dispatcher" || fail "log: SOAP fault"
check "log: successful orders leave no line" "$(grep -a -c 'order t-imp-' "$LOG")" 0

# ---- --orders ------------------------------------------------------------------------
check "orders: exit code" "$(tool "$SITE" --orders)" "0|"
check "orders: imported" "$(state_of t-imp-1)" "imported "
check "orders: missing after the outage" "$(state_of t-miss-1)" "missing "
check "orders: missing after a business error" "$(state_of t-bad)" "missing "
check "orders: unreadable copies" "$(awk -F'\t' '$1 == "unreadable"' "$E2E_OUT/out" | wc -l)" 2
grep -q -P "^unreadable\t.*\tThe order has no GUID element: nothing was imported\.$" "$E2E_OUT/out" &&
  pass "orders: the reason of an unreadable copy" || fail "orders: unreadable reason"
check "orders: a row's fields" \
  "$(awk -F'\t' '$3 == "t-imp-2" { print $4 "|" $5 "|" $6 "|" $7 }' "$E2E_OUT/out")" "HALL-1|1001|6|1"
check "orders: summary" "$(tail -1 "$E2E_OUT/out")" \
  "8 copies: 2 imported, 4 missing (3 orders), 2 unreadable"
check "orders --since a later day lists nothing" "$(tool "$SITE" --orders --since 2999-01-01; tail -1 "$E2E_OUT/out")" \
  "0|0 copies: 0 imported, 0 missing (0 orders), 0 unreadable"
check "orders --since a bad date" "$(tool "$SITE" --orders --since 2026-02-30)" "64|"

# ---- --replay ------------------------------------------------------------------------
check "replay with no order named: usage" "$(tool "$SITE" --replay)" "64|"
check "replay with no order named: nothing imported" "$(imported t-miss-1)" 0
copies_before=$(find "$ORDERS" -type f | wc -l)
check "replay one GUID: exit code" "$(tool "$SITE" --replay t-miss-1)" "0|"
check "replay one GUID: report" "$(head -1 "$E2E_OUT/out" | cut -f1,3)" "t-miss-1	ok"
check "replay one GUID: imported once from the newest copy" "$(imported t-miss-1)|$(table_of t-miss-1)" "1|9"
check "replay an unknown GUID" "$(tool "$SITE" --replay t-nowhere; head -1 "$E2E_OUT/out" | cut -f2,3)" \
  "1|-	not in the archive (no readable copy holds it)"
check "replay all missing: exit code (the bad order fails)" "$(tool "$SITE" --replay --all-missing)" "1|"
grep -q -P "^t-miss-2\t.*\tok$" "$E2E_OUT/out" && pass "replay all: t-miss-2 ok" || fail "replay all: t-miss-2"
grep -q -P "^t-bad\t.*\t'x' is not a valid integer value$" "$E2E_OUT/out" &&
  pass "replay all: the order's error line" || fail "replay all: t-bad"
check "replay all: summary" "$(tail -1 "$E2E_OUT/out")" "2 orders: 1 imported now, 1 not imported"
check "replay again: only the bad order is left" "$(tool "$SITE" --replay --all-missing; tail -1 "$E2E_OUT/out")" \
  "1|1 orders: 0 imported now, 1 not imported"
check "replay an imported GUID" "$(tool "$SITE" --replay t-imp-1; head -1 "$E2E_OUT/out" | cut -f3)" "0|already imported"
check "replay wrote no archive copy" "$(find "$ORDERS" -type f | wc -l)" "$copies_before"
for g in t-imp-1 t-imp-2 t-miss-1 t-miss-2; do
  check "exactly once: $g" "$(imported "$g")" 1
done
check "the bad order is still not imported" "$(imported t-bad)" 0

# ---- --rotate ------------------------------------------------------------------------
for f in "$ORDERS"/*.xml; do touch -d '2026-01-15 12:00:00 UTC' "$f"; done
touch "$(copy_of t-imp-2)"  # imported today: stays
day=$ORDERS/2026-01-15
mkdir -p "$day"
taken=$(basename "$(copy_of t-imp-1)")
echo "an older file of the same name" >"$day/$taken"
check "rotate: exit code (one name taken)" "$(tool "$SITE" --rotate)" "1|"
check "rotate: summary" "$(out)" "5 copies moved, 1 kept because the name is taken in the dated folder"
check "rotate: the file of the taken name is not replaced" "$(cat "$day/$taken")" "an older file of the same name"
check "rotate: the copy whose name is taken stays" "$(test -f "$ORDERS/$taken" && echo kept)" kept
check "rotate: imported and unreadable copies moved" \
  "$(find "$day" -type f | wc -l)|$(grep -l 't-miss-1' "$day"/*.xml | wc -l)" "6|2"
check "rotate: the missing order's copy stays" "$(grep -l '<GUID>t-bad</GUID>' "$ORDERS"/*.xml | wc -l)" 1
check "rotate: the young imported copy stays" "$(grep -l '<GUID>t-imp-2</GUID>' "$ORDERS"/*.xml | wc -l)" 1
rm "$day/$taken"
check "orders read the dated folder too" "$(tool "$SITE" --orders; tail -1 "$E2E_OUT/out")" \
  "0|8 copies: 5 imported, 1 missing (1 orders), 2 unreadable"
check "rotate again: nothing left to move but the kept copy" "$(tool "$SITE" --rotate; out)" \
  "0|1 copies moved, 0 kept because the name is taken in the dated folder"

# ---- --replay racing terminals --------------------------------------------------------
# Orders archived during an outage are replayed while their terminals post them
# again, several times each, at once: each is stored exactly once and every
# answer is "ok".
RACE=20
for i in $(seq 1 $RACE); do
  order "t-race-$i" 3 >"$ORDERS/order 9$(printf '%04d' "$i").xml"
done
chown -R --reference="$SITE" "$ORDERS" 2>/dev/null || true
(cd "$SITE" && env -i PATH="$PATH" "$E2E_PROGRAM" --replay --all-missing >"$E2E_OUT/race.out" 2>&1) &
replay=$!
for round in 1 2; do
  for i in $(seq 1 $RACE); do
    order "t-race-$i" 3 >"$WORK/race-$round-$i.xml"
    curl -s -o "$E2E_OUT/race-$round-$i" --data-binary "@$WORK/race-$round-$i.xml" "$URL_good?q=addorder" &
  done
done
wait
check "race: every post answered ok" "$(for f in "$E2E_OUT"/race-[12]-*; do cat "$f"; echo; done | sort | uniq -c | sed 's/^ *//')" "$((2 * RACE)) ok"
# Replay lists what is missing when it reads the archive: an order a post
# imported before that is not its to report. What it reports, it reports once.
check "race: replay reported no order twice" \
  "$(grep -P '^t-race-[0-9]+\t' "$E2E_OUT/race.out" | cut -f1 | sort | uniq -d | wc -l)" 0
check "race: replay found no failure" "$(grep -P '^t-race-' "$E2E_OUT/race.out" | grep -v -c -P '\t(ok|already imported)$')" 0
check "race: each order stored once" \
  "$(sql "select count(*), count(distinct guid) from Restaurant_ImportedOrders where guid starting with 't-race-';")" \
  "$RACE $RACE"
check "race: rows stored once" \
  "$(sql "select count(*) from Restaurant_ImportedOrderRows where guidOrder starting with 't-race-';")" "$RACE"

finish
