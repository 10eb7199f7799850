#!/bin/bash
# The database server going away in the middle of a load of orders: every post
# is answered, no order is half-imported, and once the server is back every
# re-post imports. The program reaches the server through a TCP relay that the
# test stops and starts again, standing for the server itself: stopping the
# relay cuts every open connection and refuses new ones, as a stopped server
# does, without disturbing others who share the server.
. "$(dirname "$0")/service_env.sh" "$1"

relay_start
new_site good "$(settings_for "127.0.0.1/$RELAY_PORT:$DBFILE")"

mkdir -p "$WORK/load"
for i in $(seq 1 300); do
  {
    printf '<ORDER><GUID>f-%s</GUID><DEVICEID>HALL-1</DEVICEID><PIN>1001</PIN><TABLE>%s</TABLE><FOODS>' "$i" $((i % 20 + 1))
    for id in 301 402 601 801 901 1001 1101 1201 1301 501; do
      printf '<f>%s<count>1</count><weight>0</weight><isModificator>no</isModificator></f>' "$id"
    done
    printf '</FOODS></ORDER>'
  } > "$WORK/load/$i.xml"
done

post_range() {  # TAG FROM TO: posts orders FROM..TO, 8 at a time; replies in $WORK/load/TAG.N
  seq "$2" "$3" | xargs -P 8 -I{} curl -s --max-time 60 -o "$WORK/load/$1.{}" -w '%{http_code}\n' \
    --data-binary "@$WORK/load/{}.xml" "$URL_good?q=addorder" >> "$WORK/load/$1.status"
}
post_all() { post_range "$1" 1 300; }
replies() { find "$WORK/load" -name "$1.[0-9]*" | wc -l; }

# The first 80 orders go in while the server is there; the server is cut off
# once 40 of them are answered (or all 80 are, on a machine that fast), with
# the rest of those still in flight. The other 220 are held until the cut, so
# they always meet a server that is gone.
post_range first 1 80 &
LOAD=$!
while [ "$(replies first)" -lt 40 ] && kill -0 "$LOAD" 2>/dev/null; do sleep 0.05; done
relay_stop
post_range first 81 300
wait "$LOAD"

answered=$(grep -c . "$WORK/load/first.status")
check "server gone: every post answered" "$answered|$(grep -vc -e '^200$' -e '^500$' "$WORK/load/first.status")" "300|0"
oks=0 connect=0
for i in $(seq 1 300); do
  reply=$(cat "$WORK/load/first.$i" 2>/dev/null || true)
  [ "$reply" = ok ] && oks=$((oks + 1))
  case "$reply" in DorvanaWebInterface.Database:*) connect=$((connect + 1)) ;; esac
done
[ "$oks" -gt 0 ] && pass "server gone: some orders went through first ($oks)" || fail "server gone: no order went through"
[ "$connect" -gt 0 ] && pass "server gone: later posts answer the connect failure as text ($connect)" ||
  fail "server gone: no connect failure answered"
check "server gone: no order half-imported" \
  "$(sql "select count(*) from Restaurant_ImportedOrders o where o.guid starting with 'f-' and ((select count(*) from Restaurant_ImportedOrderRows r where r.guidOrder = o.guid) <> 10 or (select count(*) from RESTAURANT_ORDERS p where p.ImportedGuid = o.guid) <> 1);")" 0
check "server gone: no rows without their order" \
  "$(sql "select count(*) from Restaurant_ImportedOrderRows r where r.guidOrder starting with 'f-' and not exists (select 1 from Restaurant_ImportedOrders o where o.guid = r.guidOrder);")" 0
# One query for all: the orders answered "ok" that the database lacks.
for i in $(seq 1 300); do
  if [ "$(cat "$WORK/load/first.$i" 2>/dev/null)" = ok ]; then echo "f-$i"; fi
done | sort > "$WORK/load/answered-ok"
sql "select guid from Restaurant_ImportedOrders where guid starting with 'f-';" | sort > "$WORK/load/stored"
check "server gone: every order answered ok is in the database" \
  "$(comm -23 "$WORK/load/answered-ok" "$WORK/load/stored" | wc -l)" 0

relay_start
post_all again
check "server back: every re-post answers ok" "$(cat "$WORK"/load/again.[0-9]* | sed 's/ok/+/g')" "$(printf '+%.0s' $(seq 1 300))"
check "server back: every order once with all its rows" \
  "$(sql "select count(*), count(distinct guid) from Restaurant_ImportedOrders where guid starting with 'f-';")|$(sql "select count(*) from Restaurant_ImportedOrderRows where guidOrder starting with 'f-';")|$(sql "select count(*) from RESTAURANT_ORDERS where ImportedGuid starting with 'f-';")" \
  "300 300|3000|300"

finish
