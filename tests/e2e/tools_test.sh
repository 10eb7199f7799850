#!/bin/bash
# The operator's tools against a working folder served by lighttpd and a demo
# database: orders archived in every state (imported, missing after an outage or
# a business error, refused), then --orders, --replay, --rotate and --check,
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
order() {  # order GUID TABLE [PIN]: an order of one row
  printf "<?xml version='1.0' encoding='windows-1251'?>\n<ORDER>\n<GUID>%s</GUID>\n" "$1"
  printf '<DEVICEID>HALL-1</DEVICEID>\n<PIN>%s</PIN>\n<TABLE>%s</TABLE>\n<FOODS>\n' "${3:-1001}" "$2"
  printf '<food>301<count>1</count><weight>0</weight><isModificator>no</isModificator></food>\n'
  printf '</FOODS>\n</ORDER>\n'
}
post() {  # post GUID TABLE [PIN]: prints the reply
  order "$1" "$2" "${3:-}" >"$WORK/post.xml"
  fetch "$URL_good?q=addorder" --data-binary "@$WORK/post.xml" >/dev/null
  cat "$E2E_OUT/body"
}
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
# A business error of the database: no waiter has this card.
biz=$(post t-biz 4 9999)
check "business error: one line" "$(printf '%s' "$biz" | wc -l)" 0
# Refused copies: TABLE is no number, so the import fails on every try; a
# broken document and an order without GUID.
check "bad order: error line" "$(post t-bad x)" "'x' is not a valid integer value"
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
check "orders: missing after a business error" "$(state_of t-biz)" "missing "
check "orders: a copy that can never be imported" "$(state_of t-bad)" "refused "
check "orders: refused copies" "$(awk -F'\t' '$1 == "refused"' "$E2E_OUT/out" | wc -l)" 3
grep -q -P "^refused\t.*\tThe order has no GUID element: nothing was imported\.$" "$E2E_OUT/out" &&
  pass "orders: the reason of a refused copy" || fail "orders: refused reason"
check "orders: a row's fields" \
  "$(awk -F'\t' '$3 == "t-imp-2" { print $4 "|" $5 "|" $6 "|" $7 }' "$E2E_OUT/out")" "HALL-1|1001|6|1"
check "orders: summary" "$(tail -1 "$E2E_OUT/out")" \
  "9 copies: 2 imported, 4 missing (3 orders), 3 refused"
check "orders --since a later day lists nothing" "$(tool "$SITE" --orders --since 2999-01-01; tail -1 "$E2E_OUT/out")" \
  "0|0 copies: 0 imported, 0 missing (0 orders), 0 refused"
check "orders --since a bad date" "$(tool "$SITE" --orders --since 2026-02-30)" "64|"

# ---- --replay ------------------------------------------------------------------------
check "replay with no order named: usage" "$(tool "$SITE" --replay)" "64|"
check "replay with no order named: nothing imported" "$(imported t-miss-1)" 0
copies_before=$(find "$ORDERS" -type f | wc -l)
check "replay one GUID: exit code" "$(tool "$SITE" --replay t-miss-1)" "0|"
check "replay one GUID: report" "$(head -1 "$E2E_OUT/out" | cut -f1,3)" "t-miss-1	ok"
check "replay one GUID: imported once from the newest copy" "$(imported t-miss-1)|$(table_of t-miss-1)" "1|9"
check "replay an unknown GUID" "$(tool "$SITE" --replay t-nowhere; head -1 "$E2E_OUT/out" | cut -f2,3)" \
  "1|-	not in the archive (no copy that may be imported holds it)"
check "replay all missing: exit code (the business error fails)" "$(tool "$SITE" --replay --all-missing)" "1|"
grep -q -P "^t-miss-2\t.*\tok$" "$E2E_OUT/out" && pass "replay all: t-miss-2 ok" || fail "replay all: t-miss-2"
grep -q -F -x "t-biz	$(cd "$SITE" && grep -l '<GUID>t-biz</GUID>' Orders/*.xml)	$biz" "$E2E_OUT/out" &&
  pass "replay all: the order's error line" || fail "replay all: t-biz"
check "replay all: the refused order is left alone" "$(grep -c t-bad "$E2E_OUT/out")" 0
check "replay all: summary" "$(tail -1 "$E2E_OUT/out")" "2 orders: 1 imported now, 1 not imported"
check "replay a refused order: not replayed" "$(tool "$SITE" --replay t-bad; head -1 "$E2E_OUT/out" | cut -f2,3)" \
  "1|-	not in the archive (no copy that may be imported holds it)"
check "replay again: only the bad order is left" "$(tool "$SITE" --replay --all-missing; tail -1 "$E2E_OUT/out")" \
  "1|1 orders: 0 imported now, 1 not imported"
check "replay an imported GUID" "$(tool "$SITE" --replay t-imp-1; head -1 "$E2E_OUT/out" | cut -f3)" "0|already imported"
check "replay wrote no archive copy" "$(find "$ORDERS" -type f | wc -l)" "$copies_before"
for g in t-imp-1 t-imp-2 t-miss-1 t-miss-2; do
  check "exactly once: $g" "$(imported "$g")" 1
done
check "the bad orders are still not imported" "$(imported t-bad)$(imported t-biz)" 00

# ---- --rotate ------------------------------------------------------------------------
for f in "$ORDERS"/*.xml; do touch -d '2026-01-15 12:00:00 UTC' "$f"; done
touch "$(copy_of t-imp-2)"                    # imported today: stays
touch -d '20 days ago' "$(copy_of t-biz)"     # missing, younger than 30 days: stays
day=$ORDERS/2026-01-15
mkdir -p "$day"
taken=$(basename "$(copy_of t-imp-1)")
echo "an older file of the same name" >"$day/$taken"
check "rotate: exit code" "$(tool "$SITE" --rotate)" "0|"
check "rotate: summary" "$(out)" \
  "7 copies moved (3 refused, into Orders/refused), 1 under a new name because theirs was taken; 0 refused copies deleted over the limit"
check "rotate: the file of the taken name is not replaced" "$(cat "$day/$taken")" "an older file of the same name"
check "rotate: the copy whose name is taken moved under a free name" \
  "$(test -f "$ORDERS/$taken" || echo gone)|$(grep -l '<GUID>t-imp-1</GUID>' "$day"/order\ *.xml | wc -l)" "gone|1"
check "rotate: imported copies moved" \
  "$(find "$day" -type f | wc -l)|$(grep -l 't-miss-1' "$day"/*.xml | wc -l)" "5|2"
check "rotate: refused copies moved to their folder" "$(find "$ORDERS/refused/2026-01-15" -type f | wc -l)" 3
check "rotate: the young missing copy stays" "$(grep -l '<GUID>t-biz</GUID>' "$ORDERS"/*.xml | wc -l)" 1
check "rotate: the young imported copy stays" "$(grep -l '<GUID>t-imp-2</GUID>' "$ORDERS"/*.xml | wc -l)" 1
rm "$day/$taken"
check "orders read the dated folder, not the refused one" "$(tool "$SITE" --orders; tail -1 "$E2E_OUT/out")" \
  "0|6 copies: 5 imported, 1 missing (1 orders), 0 refused"
check "replay all leaves out a missing copy older than --missing-days" \
  "$(tool "$SITE" --replay --all-missing --missing-days 10; tail -1 "$E2E_OUT/out")" "0|0 orders: 0 imported now, 0 not imported"
check "rotate --missing-days 10: the missing copy moves" "$(tool "$SITE" --rotate --missing-days 10; out)" \
  "0|1 copies moved (0 refused, into Orders/refused), 0 under a new name because theirs was taken; 0 refused copies deleted over the limit"
check "replay still finds the moved missing copy by name" "$(tool "$SITE" --replay t-biz; tail -1 "$E2E_OUT/out")" \
  "1|1 orders: 0 imported now, 1 not imported"
# The refused folder's cap: the oldest go first, each with a line.
old=$ORDERS/refused/2026-01-10
mkdir -p "$old"
for i in 3 2 1; do head -c 600000 /dev/zero >"$old/order $i.xml"; touch -d "$i days ago" "$old/order $i.xml"; done
check "rotate --refused-limit 1: exit code" "$(tool "$SITE" --rotate --refused-limit 1)" "0|"
check "rotate --refused-limit 1: the oldest deleted, the newest kept" \
  "$(find "$ORDERS/refused" -type f | sort | tr '\n' ' ')" "$old/order 1.xml "
check "rotate --refused-limit 1: a line per deletion" "$(grep -c '^dorvana --rotate: deleted Orders/refused/' "$E2E_OUT/err")" 5
grep -q -F "deleted Orders/refused/2026-01-10/order 3.xml (600000 bytes, written " "$E2E_OUT/err" &&
  pass "rotate: the deletion line names the copy" || fail "rotate: deletion line"

# ---- links, times before 1970, hostile fields -------------------------------------------
# A dated folder that is a link, and a copy that is a link, are never followed.
mkdir -p "$WORK/outside"
order t-secret 1 >"$WORK/outside/secret.xml"
ln -s "$WORK/outside" "$ORDERS/2026-01-14"
ln -s "$WORK/outside/secret.xml" "$ORDERS/order 77.xml"
order t-link 2 >"$ORDERS/order 78.xml"
(cd "$SITE" && env -i PATH="$PATH" "$E2E_PROGRAM" --replay t-link >/dev/null)
touch -d '2026-01-14 12:00:00 UTC' "$ORDERS/order 78.xml"
check "orders: a link is not listed" "$(tool "$SITE" --orders; grep -c -F -e t-secret -e 'order 77.xml' "$E2E_OUT/out")" "0|0"
check "rotate: a linked dated folder is refused" "$(tool "$SITE" --rotate; grep -c 'Orders/2026-01-14 is not a folder' "$E2E_OUT/err")" "1|1"
check "rotate: nothing went through the link" "$(ls "$WORK/outside")|$(test -L "$ORDERS/order 77.xml" && echo link)" "secret.xml|link"
rm "$ORDERS/2026-01-14" "$ORDERS/order 77.xml"
# A copy written before 1970, control bytes, Windows-1251 text and a long field.
hostile=$ORDERS/order$'\t'79.xml
printf '<ORDER><GUID>t-\x01old</GUID><DEVICEID>\xC0\x1b[2J</DEVICEID><PIN>1</PIN><TABLE>%s</TABLE></ORDER>' \
  "$(head -c 100000 /dev/zero | tr '\0' 7)" >"$hostile"
touch -d '1969-07-20 20:17:00 UTC' "$hostile"
tool "$SITE" --orders >/dev/null
line=$(grep -a 'old' "$E2E_OUT/out")
check "orders: a copy before 1970, its fields cleaned and cut" "$(printf '%s' "$line" | cut -f2-6,8)" \
  "Orders/order\x0979.xml	t-\x01old	А\x1B[2J	1	$(printf '7%.0s' $(seq 64))...[100000 bytes]	1969-07-20T20:17:00Z"
check "orders: refused for its TABLE" "$(printf '%s' "$line" | cut -f1,9)" \
  "refused	'$(printf '7%.0s' $(seq 63))...[100031 bytes]"
rm "$hostile"

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

# ---- a GUID of no-break spaces is as blank as an empty one ------------------------------
for guid in $'\xA0' '&#160;' $' &#xA0;\xA0\t'; do
  # Posted percent-encoded, as a terminal posts a document holding "&".
  order "$guid" 1 | sed 's/&/%26/g; s/#/%23/g' >"$WORK/blank.xml"
  status=$(fetch "$URL_good?q=addorder" --data-binary "@$WORK/blank.xml")
  check "blank GUID '$guid': refused" "$status|$(grep -a -c "The order's GUID is empty" "$E2E_OUT/body")" "500|1"
done
check "blank GUIDs: nothing imported" \
  "$(sql "select count(*) from Restaurant_ImportedOrders where trim(replace(guid, x'A0', '')) = '';")" 0

# ---- hostile copies: 60 copies with 8 MiB fields ------------------------------------------
# One copy's text at a time and cut fields: --orders stays small in memory and
# in what it prints. A third of the copies each with an 8 MiB GUID, TABLE or
# DEVICEID.
BIG=$WORK/big
mkdir -p "$BIG/Orders"
cp "$SITE/dorvana.def" "$BIG/"
python3 - "$BIG/Orders" <<'PY'
import sys
big = b"7" * (8 << 20)
for i in range(60):
    guid, table, device = b"big-%d" % i, b"5", b"HALL-1"
    if i % 3 == 0: guid = big
    elif i % 3 == 1: table = big
    else: device = big
    with open("%s/order %d.xml" % (sys.argv[1], i), "wb") as f:
        f.write(b"<ORDER><GUID>" + guid + b"</GUID><DEVICEID>" + device + b"</DEVICEID><PIN>1001</PIN><TABLE>"
                + table + b"</TABLE><FOODS></FOODS></ORDER>")
PY
rc=0
(cd "$BIG" && env -i PATH="$PATH" /usr/bin/time -f '%M' -o "$WORK/big.rss" "$E2E_PROGRAM" --orders \
  >"$E2E_OUT/big.out" 2>"$E2E_OUT/big.err") || rc=$?
rss_kib=$(tail -1 "$WORK/big.rss")
listing=$(wc -c <"$E2E_OUT/big.out")
echo "  60 copies of 8 MiB fields: --orders peak $rss_kib KiB, listing $listing bytes"
check "hostile copies: exit code and copies listed" "$rc|$(tail -1 "$E2E_OUT/big.out")" \
  "0|60 copies: 0 imported, 40 missing (21 orders), 20 refused"
# A sanitizer build keeps freed blocks in quarantine and shadows every byte: its
# peak says nothing of the program's own.
if grep -q -a __asan_init "$E2E_PROGRAM"; then
  pass "hostile copies: peak memory not compared in a sanitizer build"
else
  check "hostile copies: peak memory under 64 MiB" "$((rss_kib < 65536))" 1
fi
check "hostile copies: listing under 100 KB" "$((listing < 100000))" 1
rm -rf "$BIG"

finish
