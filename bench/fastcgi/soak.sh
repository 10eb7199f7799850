#!/usr/bin/env bash
# Memory and open descriptors of one FastCGI process over many requests against
# the demo database: prints "REQUESTS RSS-KiB DESCRIPTORS" after 1,000, 10,000
# and COUNT requests.
#
#   bench/fastcgi/soak.sh [COUNT]     (default 100000; build/dorvana first)
#
# Starts the local Firebird server when none runs (scripts/fbserver.sh), makes a
# demo database in a scratch folder and drops it at the end, starts
# `dorvana --fastcgi 127.0.0.1:PORT --processes 1` there and stops it (by its
# pid) at the end. The requests cycle through q=test, a POST, a failing request,
# a refused body and getsprstewards (FCGI_MIX="q=... q=..." names others: the price
# lists take tens of ms each); one connection
# each (tests/e2e/fcgi_client.py).
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
COUNT=${1:-100000}
work=
server=
cleanup() {
  if [ -n "$server" ]; then kill -TERM "$server" 2>/dev/null || true; wait "$server" 2>/dev/null || true; fi
  if [ -n "$work" ] && [ -e "$work/db/demo.fdb" ]; then
    printf "connect '127.0.0.1:%s';\ndrop database;\n" "$work/db/demo.fdb" |
      isql-fb -q -user DORVANA -password dorvana >/dev/null 2>&1 || true
  fi
  if [ -n "$work" ]; then rm -rf "$work"; fi
}
trap cleanup EXIT
work=$(mktemp -d /tmp/dorvana-soak.XXXXXX)
chmod 755 "$work"
mkdir -m 777 "$work/db"
mkdir "$work/www"
"$ROOT/scripts/fbserver.sh" start >/dev/null
"$ROOT/scripts/demo-db.sh" "127.0.0.1:$work/db/demo.fdb" >/dev/null
printf 'SERVER NAME=127.0.0.1:%s\r\nUSER NAME=DORVANA\r\nPASSWORD=dorvana\r\n' "$work/db/demo.fdb" \
  >"$work/www/dorvana.def"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
(cd "$work/www" && exec "$ROOT/build/dorvana" --fastcgi "127.0.0.1:$port" --processes 1) &
server=$!
for _ in $(seq 1 100); do
  if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then break; fi
  sleep 0.05
done
child=$(pgrep -P "$server" | head -1)
start=$(date +%s.%N)
FCGI_MIX=${FCGI_MIX-"q=getsprstewards"} \
  python3 "$ROOT/tests/e2e/fcgi_client.py" "127.0.0.1:$port" "$COUNT" "$child" 1 1000 10000 "$COUNT"
end=$(date +%s.%N)
echo "$COUNT requests in $(echo "$end - $start" | bc) s (one client, one connection per request)"
