#!/bin/bash
# An anonymous flood of the archive, then real orders: serves the program under
# lighttpd (MODE=fastcgi by default, 2 processes) over a demo database, posts
# COUNT bodies that can never become orders ("<ORDER><GUID>flood-N</GUID></ORDER>",
# no DEVICEID), then REAL orders of the demo restaurant, and reports how many
# real orders were answered "ok" and stored once, what --check says, and how
# many copies --rotate leaves in Orders once their times are set back 8 days.
#
#   bench/intake/flood.sh PROGRAM [COUNT] [REAL]     (defaults 120000, 20)
#
# The posts go to 127.0.0.1 only, from 8 connections, and stop after COUNT.
# Needs lighttpd, curl, python3 and the local Firebird server.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
COUNT=${2:-120000}
REAL=${3:-20}
export MODE=${MODE:-fastcgi} WEB=${WEB:-lighttpd}
export FCGI_PROCESSES=${FCGI_PROCESSES:-2}

# shellcheck source=../../tests/e2e/service_env.sh
source "$ROOT/tests/e2e/service_env.sh" "$1"
new_site flood "$(settings_for "$DB")"
SITE=$WORK/flood

echo "== $COUNT anonymous posts through $WEB ($MODE)"
start=$(date +%s)
python3 - "$URL_flood" "$COUNT" <<'PY'
import http.client, sys, threading, urllib.parse
url = urllib.parse.urlsplit(sys.argv[1]); count = int(sys.argv[2]); lanes = 8
answers = {}
lock = threading.Lock()
def lane(k):
    c = http.client.HTTPConnection(url.hostname, url.port, timeout=60)
    for i in range(k, count, lanes):
        body = ("<ORDER><GUID>flood-%d</GUID></ORDER>" % i).encode()
        try:
            c.request("POST", url.path + "?q=addorder", body)
            r = c.getresponse(); text = r.read()[:60]
        except Exception as e:
            c.close(); c = http.client.HTTPConnection(url.hostname, url.port, timeout=60)
            text = repr(e).encode()[:60]
        with lock:
            answers[text] = answers.get(text, 0) + 1
threads = [threading.Thread(target=lane, args=(k,)) for k in range(lanes)]
for t in threads: t.start()
for t in threads: t.join()
for text, n in sorted(answers.items(), key=lambda a: -a[1]):
    print("  %7d  %s" % (n, text.decode("utf-8", "replace")))
PY
echo "   $(($(date +%s) - start)) s; copies in Orders: $(find "$SITE/Orders" -maxdepth 1 -name '*.xml' | wc -l)"

echo "== $REAL real orders"
ok=0
for i in $(seq 1 "$REAL"); do
  answer=$("$ROOT/bench/intake/order.sh" "real-$i" 3 | curl -s --data-binary @- "$URL_flood?q=addorder")
  if [ "$answer" = ok ]; then ok=$((ok + 1)); else echo "   real-$i: $answer"; fi
done
stored=$(sql "select count(*) from Restaurant_ImportedOrders where guid starting with 'real-';" | tail -1)
echo "   $ok of $REAL answered ok; $stored stored"

cd "$SITE"
echo "== dorvana --check"
./dorvana --check | grep -E 'archive|refused|wider|copies' || true
echo "== dorvana --rotate after the copies' times are set back 8 days"
find Orders -maxdepth 1 -name '*.xml' -exec touch -d '8 days ago' {} +
start=$(date +%s)
./dorvana --rotate 2>/dev/null | tail -1
echo "   $(($(date +%s) - start)) s; copies left in Orders: $(find Orders -maxdepth 1 -name '*.xml' | wc -l)"
