#!/bin/bash
# Order intake under hostile conditions, through lighttpd against a fresh demo
# database on the local Firebird server: a file-size limit on the web server's
# processes, many posts of one large order at once (with and without the
# database's uniqueness rule for the order identifier), and a database host that
# accepts connections and never answers.
. "$(dirname "$0")/service_env.sh" "$1"

ORDER=$E2E_ROOT/bench/intake/order.sh
# posts N GUID-FILE TAG: N posts of one order at the same moment; the replies in
# $WORK/TAG.1 ... $WORK/TAG.N, the status codes in $WORK/TAG.status.
posts() {
  local n=$1 file=$2 tag=$3
  seq 1 "$n" | xargs -P "$n" -I{} curl -s --max-time 280 -o "$WORK/$tag.{}" -w '%{http_code}\n' \
    --data-binary "@$file" "$URL_good?q=addorder" > "$WORK/$tag.status"
}
all_ok() {  # TAG N: "+" for every reply "ok"
  local i out=
  for i in $(seq 1 "$2"); do
    if [ "$(cat "$WORK/$1.$i" 2>/dev/null)" = ok ]; then out="$out+"; else out="$out-"; fi
  done
  echo "$out"
}
pluses() { printf '+%.0s' $(seq 1 "$1"); }

# ---- a write past the file-size limit -----------------------------------------------
# lighttpd, and so every program process it starts, runs under a limit of 16 KiB
# per file; the archive copy of a 40 KB order cannot be written in full.
# The wrapper lives in this test's own folder and comes first on the PATH of
# that one start only.
REAL_LIGHTTPD=$(command -v lighttpd || echo /usr/sbin/lighttpd)
mkdir -p "${WORK:?}/bin"
cat > "${WORK:?}/bin/lighttpd" <<WRAP
#!/bin/sh
ulimit -f 16
exec "$REAL_LIGHTTPD" "\$@"
WRAP
chmod 755 "$WORK/bin/lighttpd"
PATH=$WORK/bin:$PATH new_site limited "$(settings_for "$DB")"
"$ORDER" fsz-1 400 > "$WORK/fsz.xml"
status=$(fetch "$URL_limited?q=addorder" --data-binary "@$WORK/fsz.xml")
check "file-size limit: the program's own error page" "$status|$(grep -c 'Cannot create file' "$E2E_OUT/body")" "500|1"
grep -q 'File too large' "$E2E_OUT/body" && pass "file-size limit: the system's reason" ||
  fail "file-size limit: the system's reason"
check "file-size limit: no copy left in Orders" "$(find "$WORK/limited/Orders" -type f | wc -l)" 0
check "file-size limit: nothing imported" "$(imported fsz-1)" 0
"$ORDER" fsz-2 20 > "$WORK/fsz2.xml"
fetch "$URL_limited?q=addorder" --data-binary "@$WORK/fsz2.xml" >/dev/null
check "file-size limit: an order that fits goes through" "$(cat "$E2E_OUT/body")|$(imported fsz-2)" "ok|1"

# ---- one large order posted many times at once ----------------------------------------
new_site good "$(settings_for "$DB")"
"$ORDER" big-1 5000 > "$WORK/big1.xml"
posts 30 "$WORK/big1.xml" big1
check "30 posts of a 5,000-row order at once: every one answers ok" "$(all_ok big1 30)" "$(pluses 30)"
check "30 posts of a 5,000-row order at once: stored once" \
  "$(imported big-1)|$(rows_of big-1)|$(placed big-1)" "1|5000|1"

# ---- the same without the uniqueness rule for the order identifier ---------------------------
# Exactly once rests on that rule (docs/settings.md). A restaurant's database
# without it, whose import procedure keeps no uniqueness of its own either (here:
# one that does nothing, and a header trigger that takes a second, so that every
# post meets the others between its duplicate check and its commit): the posts
# all pass the duplicate check, nothing collides, every post answers ok and the
# order is stored once per post.
for c in $(sql "select trim(rdb\$constraint_name) from rdb\$relation_constraints where rdb\$constraint_type = 'UNIQUE' and rdb\$relation_name = 'RESTAURANT_IMPORTEDORDERS';" | tr -d '\r'); do
  sql "alter table Restaurant_ImportedOrders drop constraint $c;" >/dev/null
done
sql "set term ^;
create or alter procedure restaurant_importorders (guid varchar(64)) as begin end^
create trigger slow_header for Restaurant_ImportedOrders before insert as
  declare variable started timestamp;
begin
  started = cast('NOW' as timestamp);
  while (datediff(millisecond from started to cast('NOW' as timestamp)) < 1000) do started = started;
end^
set term ;^
commit;" >/dev/null
check "uniqueness rule dropped" \
  "$(sql "select count(*) from rdb\$relation_constraints where rdb\$constraint_type = 'UNIQUE' and rdb\$relation_name = 'RESTAURANT_IMPORTEDORDERS';")" 0
"$ORDER" big-2 500 > "$WORK/big2.xml"
posts 8 "$WORK/big2.xml" big2
check "without the rule: every post answers ok" "$(all_ok big2 8)" "$(pluses 8)"
n=$(imported big-2)
[ "$n" -gt 1 ] && pass "without the rule: the order is stored $n times" ||
  fail "without the rule: expected the order more than once, found $n"

# ---- a database host that accepts and never answers --------------------------------------
SILENT_PORT=$(free_port)
silent_listener_start "$SILENT_PORT"
new_site silent "$(settings_for "127.0.0.1/$SILENT_PORT:/srv/db/none.fdb")"
new_site silent2 "$(settings_for "127.0.0.1/$SILENT_PORT:/srv/db/none.fdb")CONNECT TIMEOUT=2"$'\r\n'
"$ORDER" silent-1 3 > "$WORK/silent.xml"
# The client library on its own would wait 180 s; the default bound is 15 s.
status=$(fetch "$URL_silent?q=getsprfood&user=1001&device=HALL-1" --max-time 60) || status=timeout
check "silent host: answered with the connect failure" \
  "$status|$(header Content-Type)|$(head -c 29 "$E2E_OUT/body")" "200|text/plain|DorvanaWebInterface.Database:"
status=$(fetch "$URL_silent2?q=addorder" --max-time 30 --data-binary "@$WORK/silent.xml") || status=timeout
check "silent host, CONNECT TIMEOUT=2: answered with the connect failure" \
  "$status|$(head -c 29 "$E2E_OUT/body")" "200|DorvanaWebInterface.Database:"

finish
