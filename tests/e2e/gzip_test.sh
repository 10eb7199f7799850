#!/bin/bash
# Compressed answers through the web server $WEB (and MODE): a client that sends
# "Accept-Encoding: gzip" gets the very bytes of the plain answer gzip-compressed,
# with "Vary: Accept-Encoding" and no stale Content-Length; a client that does
# not ask gets them as they are; an order is taken as before.
. "$(dirname "$0")/service_env.sh" "$1"

pad=$(printf 'x%.0s' $(seq 1 250))
new_site good "$(settings_for "$DB")"
# A database that is not there: a connect failure, in text/plain, that names
# the long path.
new_site baddb "$(settings_for "127.0.0.1:$WORK/db/$pad/missing.fdb")"

# Each answer (text/html, text/xml, text/plain): asked for plainly, then with
# gzip (plain.*, gz.*).
for url in "$URL_good?q=test&pad=$pad" "$URL_good?q=getsprfood&user=1002&device=HALL-1" \
  "$URL_good?q=getsprstewards" "$URL_good/wsdl/ISoapTest" "$URL_good?q=test" "$URL_baddb?q=getsprstewards"; do
  p_status=$(curl -s -o "$E2E_OUT/plain.body" -D "$E2E_OUT/plain.head" -w '%{http_code}' "$url")
  g_status=$(curl -s -o "$E2E_OUT/gz.body" -D "$E2E_OUT/gz.head" -w '%{http_code}' -H 'Accept-Encoding: gzip' "$url")
  name=${url/$pad/250 x}
  name="$(header Content-Type plain) ${name#*/dorvana}"
  check "$name: status" "$g_status/$p_status" 200/200
  check "$name: plain without Vary or Content-Encoding" "$(header Vary plain)$(header Content-Encoding plain)" ""
  check "$name: same content type" "$(header Content-Type gz)" "$(header Content-Type plain)"
  length=$(header Content-Length gz)
  check "$name: Content-Length, if any, of the bytes sent" "${length:-none}" "$([ -n "$length" ] && wc -c <"$E2E_OUT/gz.body" || echo none)"
  if [ "$(header Content-Encoding gz)" = gzip ]; then
    check "$name: Vary" "$(header Vary gz)" Accept-Encoding
    gunzip -c "$E2E_OUT/gz.body" >"$E2E_OUT/gz.plain" || true
    check_file "$name: decompresses to the plain bytes" "$E2E_OUT/gz.plain" "$E2E_OUT/plain.body"
  elif [ "$(wc -c <"$E2E_OUT/plain.body")" -lt 256 ]; then
    # A short answer may go uncompressed (lighttpd, nginx: under 256 bytes).
    check_file "$name: short, sent as it is" "$E2E_OUT/gz.body" "$E2E_OUT/plain.body"
  else
    fail "$name: not compressed ($(wc -c <"$E2E_OUT/plain.body") bytes)"
  fi
done

# An order posted by a client that takes gzip: answered ok, archived and
# imported as posted.
printf "<?xml version='1.0' encoding='windows-1251'?>\n<ORDER>\n<GUID>gz-1</GUID>\n<DEVICEID>HALL-1</DEVICEID>\n<PIN>1001</PIN>\n<TABLE>4</TABLE>\n<FOODS>\n<food>301<count>2</count><weight>0</weight><isModificator>no</isModificator></food>\n</FOODS>\n</ORDER>\n" >"$WORK/o.xml"
status=$(fetch "$URL_good?q=addorder" --compressed --data-binary "@$WORK/o.xml")
check "order: reply" "$status $(cat "$E2E_OUT/body")" "200 ok"
check "order: imported" "$(sql "select count(*) from Restaurant_ImportedOrderRows where guidOrder = 'gz-1';")" 1
check "order: archived as posted" "$(cat "$WORK"/good/Orders/order*.xml | tr -d '\r')" "$(cat "$WORK/o.xml")"
finish
