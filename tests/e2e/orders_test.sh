#!/bin/bash
# Order intake through the web server $WEB against a fresh demo database, each result
# verified from a second connection: replies, the archive, duplicates, failures
# and concurrent posts.
. "$(dirname "$0")/service_env.sh" "$1"

new_site good "$(settings_for "$DB")"
new_site nosettings
ORDERS=$WORK/good/Orders

# order GUID TABLE ROWS...: an order document; each row is "id count weight mod".
order() {
  local guid=$1 table=$2 row
  shift 2
  printf "<?xml version='1.0' encoding='windows-1251'?>\n<ORDER>\n<GUID>%s</GUID>\n" "$guid"
  printf '<DEVICEID>HALL-1</DEVICEID>\n<PIN>1001</PIN>\n<TABLE>%s</TABLE>\n<FOODS>\n' "$table"
  for row in "$@"; do
    set -- $row
    printf '<food>%s<count>%s</count><weight>%s</weight><isModificator>%s</isModificator></food>\n' "$1" "$2" "$3" "${4-}"
  done
  printf '</FOODS>\n</ORDER>\n'
}
post() {  # post FILE [URL]: prints the status; the reply is in $E2E_OUT/body
  fetch "${2:-$URL_good}?q=addorder" --data-binary "@$1"
}
reply() { cat "$E2E_OUT/body"; }
archived() { find "$ORDERS" -name 'order *.xml' 2>/dev/null | wc -l; }

# ---- a plain order, then the same once more -------------------------------------
order o-1 5 "301 2 0 no" "1401 1 0 yes" "1101 1 500 N" > "$WORK/o1.xml"
status=$(post "$WORK/o1.xml")
check "order: status" "$status" 200
check "order: reply" "$(reply)" "ok"
check "order: content type" "$(header Content-Type)" "text/html"
check "order: header written" "$(imported o-1)" 1
check "order: rows written" "$(rows_of o-1)" 3
check "order: placed by the procedure" "$(placed o-1)" 1
check "order: row values" "$(sql "select IDPRICE, Quantity, Volume, isModificator from Restaurant_ImportedOrderRows where guidOrder = 'o-1' order by id;" | tr -s ' ' | tr '\n' '|')" \
  "301 2 0 0|1401 1 0 1|1101 1 500 0|"
check "order: archive file" "$(archived)" 1
# Started as root, the web server runs the program as www-data, never as root.
if [ "$(id -u)" = 0 ]; then
  check "order: archived by www-data" "$(stat -c %U "$ORDERS"/order*.xml)" www-data
fi
check "order: archive holds the posted text" "$(cat "$ORDERS"/order*.xml | tr -d '\r')" "$(cat "$WORK/o1.xml")"
post "$WORK/o1.xml" >/dev/null
check "repeated order: reply" "$(reply)" "ok"
check "repeated order: imported once" "$(imported o-1)" 1
check "repeated order: rows once" "$(rows_of o-1)" 3
check "repeated order: a second archive file" "$(archived)" 2

# ---- document forms -----------------------------------------------------------------
order o-empty 6 > "$WORK/o.xml"
post "$WORK/o.xml" >/dev/null
check "empty FOODS: reply" "$(reply)" "ok"
check "empty FOODS: header written" "$(imported o-empty)" 1

i=0
for word in yes Yes true t no false N; do
  i=$((i + 1))
  order "o-mod-$i" 7 "301 1 0 no" "1401 1 0 $word" > "$WORK/o.xml"
  post "$WORK/o.xml" >/dev/null
  case $word in [yYtT]*) want=1 ;; *) want=0 ;; esac
  check "isModificator $word" "$(reply)|$(sql "select max(isModificator) from Restaurant_ImportedOrderRows where guidOrder = 'o-mod-$i';")" "ok|$want"
done
for word in 1 0 ''; do
  i=$((i + 1))
  order "o-mod-$i" 7 "301 1 0 no" "1401 1 0 $word" > "$WORK/o.xml"
  post "$WORK/o.xml" >/dev/null
  check "isModificator '$word' fails" "$(reply)|$(imported o-mod-$i)|$(rows_of o-mod-$i)" "Cannot convert value to bool|0|0"
done

order o-t1 "5 " "301 1 0 no" > "$WORK/o.xml"
post "$WORK/o.xml" >/dev/null
check "TABLE with a trailing space fails" "$(reply)|$(imported o-t1)" "'5 ' is not a valid integer value|0"
order o-t2 " 5" "301 1 0 no" > "$WORK/o.xml"
post "$WORK/o.xml" >/dev/null
check "TABLE with a leading space" "$(reply)|$(imported o-t2)" "ok|1"

order o-case 5 "301 1 0 no" | sed -e 's/GUID>/guid>/g' -e 's/FOODS>/Foods>/g' -e 's/count>/COUNT>/g' > "$WORK/o.xml"
post "$WORK/o.xml" >/dev/null
check "element names in other letter case" "$(reply)|$(imported o-case)|$(rows_of o-case)" "ok|1|1"

order o-nodev 5 "301 1 0 no" | grep -v DEVICEID > "$WORK/o.xml"
post "$WORK/o.xml" >/dev/null
check "missing DEVICEID" "$(reply)|$(imported o-nodev)" "The order has no DEVICEID element.|0"

before=$(sql "select count(*) from Restaurant_ImportedOrders;")
order o-noguid 5 "301 1 0 no" | grep -v GUID > "$WORK/o.xml"
status=$(post "$WORK/o.xml")
check "missing GUID: status" "$status" 500
grep -q "The order has no GUID element" "$E2E_OUT/body" && pass "missing GUID: message" || fail "missing GUID: message"
check "missing GUID: nothing written" "$(sql "select count(*) from Restaurant_ImportedOrders;")" "$before"

n=$(archived)
status=$(fetch "$URL_good?q=addorder" --data-binary '')
check "empty body: status" "$status" 500
grep -q "No root element found in xml" "$E2E_OUT/body" && pass "empty body: message" || fail "empty body: message"
check "empty body: no archive file" "$(archived)" "$n"
status=$(fetch "$URL_good?q=addorder")
check "GET without a body: status" "$status" 500
grep -q "No root element found in xml" "$E2E_OUT/body" && pass "GET without a body: message" || fail "GET without a body: message"
check "GET without a body: no archive file" "$(archived)" "$n"

# Blank identifiers are refused like a missing one: otherwise the first blank
# order is stored and every later one answered "ok" as its duplicate, and lost.
before=$(sql "select count(*) from Restaurant_ImportedOrders;")
for guid in '' ' ' '	 '; do
  order "$guid" 5 "301 1 0 no" > "$WORK/o.xml"
  status=$(post "$WORK/o.xml")
  check "GUID '$guid': status" "$status" 500
  grep -q "The order's GUID is empty: nothing was imported." "$E2E_OUT/body" && pass "GUID '$guid': message" ||
    fail "GUID '$guid': message"
done
check "blank GUIDs: nothing written" "$(sql "select count(*) from Restaurant_ImportedOrders;")" "$before"

# A document holding "&", "+" and "%" comes through when posted percent-encoded.
order 'R&amp;D+1%' 5 "301 1 0 no" > "$WORK/o.xml"
encoded=$(LC_ALL=C awk 'BEGIN { for (i = 0; i < 256; i++) hex[sprintf("%c", i)] = sprintf("%%%02X", i) }
  { out = ""; for (i = 1; i <= length($0); i++) { c = substr($0, i, 1)
      out = out (c ~ /[A-Za-z0-9<>\/ ._-]/ ? c : hex[c]) } print out }' "$WORK/o.xml")
printf '%s\n' "$encoded" > "$WORK/o.enc"
post "$WORK/o.enc" >/dev/null
check "percent-encoded document" "$(reply)|$(imported 'R&D+1%')" "ok|1"

# ---- the procedure's business exceptions -------------------------------------------
order o-bad1 5 "301 1 0 no" "9999 1 0 no" > "$WORK/o.xml"
post "$WORK/o.xml" >/dev/null
check "unknown item: the exception's message in UTF-8" "$(reply)" "Позиции меню с кодом 9999 нет, обновите меню."
check "unknown item: nothing kept" "$(imported o-bad1)|$(rows_of o-bad1)|$(placed o-bad1)" "0|0|0"
order o-bad2 5 "1213 1 0 no" > "$WORK/o.xml"
post "$WORK/o.xml" >/dev/null
check "stop list: a message beginning with a Latin letter" "$(reply)" "Sauvignon Blanc, бокал закончилось (стоп-лист)."
order o-bad3 77 "301 1 0 no" > "$WORK/o.xml"
post "$WORK/o.xml" >/dev/null
check "no such table" "$(reply)" "Стола 77 нет в зале, проверьте номер стола."
order o-bad4 5 "301 1 0 no" | sed 's/<PIN>1001/<PIN>9001/' > "$WORK/o.xml"
post "$WORK/o.xml" >/dev/null
check "card of no waiter" "$(reply)" "Карта 9001 не принадлежит официанту на смене."
post "$WORK/o.xml" >/dev/null
sed -i 's/<PIN>9001/<PIN>1001/' "$WORK/o.xml"
post "$WORK/o.xml" >/dev/null
check "the terminal's corrected post goes through" "$(reply)|$(imported o-bad4)|$(placed o-bad4)" "ok|1|1"

# ---- no settings file ---------------------------------------------------------------
order o-noset 5 "301 1 0 no" > "$WORK/o.xml"
status=$(post "$WORK/o.xml" "$URL_nosettings")
check "no settings file: status" "$status" 500
grep -q "DorvanaWebInterface.Database: Cannot perform operation -- DB is not open." "$E2E_OUT/body" &&
  pass "no settings file: message" || fail "no settings file: message"
check "no settings file: archived anyway" "$(find "$WORK/nosettings/Orders" -name 'order *.xml' | wc -l)" 1

# ---- the archive folder cannot take the copy -------------------------------------------
mv "$ORDERS" "$WORK/Orders.kept"
touch "$ORDERS"   # a file where the folder should be
order o-noarch 5 "301 1 0 no" > "$WORK/o.xml"
status=$(post "$WORK/o.xml")
check "archive not writable: status" "$status" 500
grep -q "Cannot create file" "$E2E_OUT/body" && pass "archive not writable: message" || fail "archive not writable: message"
check "archive not writable: nothing imported" "$(imported o-noarch)" 0
rm "$ORDERS"
mv "$WORK/Orders.kept" "$ORDERS"
post "$WORK/o.xml" >/dev/null
check "archive writable again: the retry imports" "$(reply)|$(imported o-noarch)" "ok|1"

# ---- concurrency: 200 orders and 20 copies of one more, by 8 clients -------------------
mkdir -p "$WORK/load"
rows10=("301 1 0 no" "1401 1 0 yes" "402 2 0 no" "601 1 0 no" "1301 1 50 no" "1302 1 50 no" "901 2 0 no" "1001 1 0 no" "801 1 0 no" "1402 1 0 yes")
for i in $(seq 1 200); do order "c-$i" $((i % 20 + 1)) "${rows10[@]}" > "$WORK/load/$i.xml"; done
order c-same 3 "${rows10[@]}" > "$WORK/load/same.xml"
{ seq 1 200; for i in $(seq 1 20); do echo same; done; } | shuf | nl -w1 -s' ' > "$WORK/load/list"
n=$(archived)
xargs -P 8 -L 1 sh -c 'curl -s -o "$0/reply.$1" --data-binary "@$0/$2.xml" "$3?q=addorder"' "$WORK/load" \
  < <(sed "s|\$| $URL_good|" "$WORK/load/list")
check "concurrent posts: every reply ok" "$(cat "$WORK"/load/reply.* | tr -d '\n' | sed 's/ok/+/g')" \
  "$(printf '+%.0s' $(seq 1 220))"
check "concurrent posts: every distinct order once" \
  "$(sql "select count(*), count(distinct guid) from Restaurant_ImportedOrders where guid starting with 'c-';" | tr -s ' ')" "201 201"
check "concurrent posts: all rows, none twice" \
  "$(sql "select count(*) from Restaurant_ImportedOrderRows where guidOrder starting with 'c-';")" 2010
check "concurrent posts: placed once each" \
  "$(sql "select count(*) from RESTAURANT_ORDERS where ImportedGuid starting with 'c-';")" 201
check "concurrent posts: one archive file per post" "$(archived)" "$((n + 220))"

finish
