#!/usr/bin/env bash
# Through each web server in both modes: a client outside ALLOW is refused by
# the web server (403, no archive copy, no line of the program's in the log), a
# client inside it is served; a body declared over 16 MiB is answered 413 and
# archived nowhere, one of 16 MiB reaches the program whole.
source "$(dirname "$0")/harness.sh" "$1"

ORDER='<ORDER><GUID>allow-1</GUID><DEVICEID>HALL-1</DEVICEID></ORDER>'
head -c 16777217 /dev/zero | tr '\0' x >"$E2E_OUT/big"
head -c 16777216 "$E2E_OUT/big" >"$E2E_OUT/limit"

# site ALLOW: a fresh program folder served by $WEB in $MODE; sets SITE, LOG, URL.
site() {
  SITE=$E2E_DIR/$WEB-$MODE-$RANDOM
  mkdir -p "$SITE"
  ALLOW=$1 start_web "$SITE" >"$E2E_OUT/port" || { fail "$WEB $MODE: could not start"; return 1; }
  URL=http://127.0.0.1:$(cat "$E2E_OUT/port")/dorvana
  LOG=$SITE/.$WEB/error.log
}
copies() { find "$SITE/Orders" -type f 2>/dev/null | wc -l; }
logged() { grep -c 'failure from' "$LOG"; }
ask() {  # ask CURL-ARGS...: the status of a request from 127.0.0.1
  curl -s -o /dev/null -w '%{http_code}' --interface 127.0.0.1 "$@"
}

for WEB in lighttpd apache nginx; do
  for MODE in cgi fastcgi; do
    export MODE
    at="$WEB $MODE"
    site 127.0.0.2/32 || continue
    check "$at: order from outside ALLOW" "$(ask --data-binary "$ORDER" "$URL?q=addorder")" 403
    check "$at: test from outside ALLOW" "$(ask "$URL?q=test")" 403
    check "$at: refused, nothing archived, nothing logged" "$(copies) $(logged)" "0 0"
    "$E2E_ROOT/scripts/$WEB.sh" stop "$SITE" >/dev/null

    site 127.0.0.1 || continue
    check "$at: test from inside ALLOW" "$(ask "$URL?q=test")" 200
    # No database: the order is archived, then fails and is logged.
    ask --data-binary "$ORDER" "$URL?q=addorder" >/dev/null
    check "$at: order from inside ALLOW archived and logged" "$(copies) $(logged)" "1 1"
    check "$at: Content-Length 16777217" "$(ask --data-binary @"$E2E_OUT/big" "$URL?q=addorder")" 413
    check "$at: over the limit, nothing archived or logged" "$(copies) $(logged)" "1 1"
    ask --data-binary @"$E2E_OUT/limit" "$URL?q=addorder" >/dev/null
    check "$at: 16777216 bytes archived whole" \
      "$(find "$SITE/Orders" -type f -size +16383k | wc -l)" 1
    "$E2E_ROOT/scripts/$WEB.sh" stop "$SITE" >/dev/null
  done
done

# A malformed entry stops the script before any server starts.
for bad in 192.168.10.5/24 10.0.0.256 0.0.0.0/0 fe80::1%eth0 1::2::3 ::ffff:10.0.5.7 "*"; do
  ALLOW="127.0.0.1 $bad" "$E2E_ROOT/scripts/lighttpd.sh" start "$E2E_DIR/bad" 1 2>"$E2E_OUT/err"
  check "ALLOW with $bad: exit code" "$? $(grep -c -F "'$bad'" "$E2E_OUT/err")" "2 1"
done
finish
