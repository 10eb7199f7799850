#!/bin/bash
# How long the import of one large order takes: the figure that the wait for a
# competing import of the same order (service/OrderIntake.cpp) must stay well
# above. Builds an order of ROWS rows (198,000 rows are 16.7 MB, just under 16 MiB)
# from the demo menu, posts it to the program run directly as a CGI process
# against a fresh demo database on the local Firebird server, RUNS times with a
# new identifier each time, and prints the body size and the wall time of each.
#
#   bench/intake/large_order.sh PROGRAM [ROWS] [RUNS]     (defaults 198000, 3)
#
# Needs isql-fb and the local server (scripts/fbserver.sh); keeps nothing.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
PROGRAM=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
ROWS=${2:-198000}
RUNS=${3:-3}
WORK=$(mktemp -d /tmp/dorvana-large-order.XXXXXX)
chmod 755 "$WORK"
mkdir -m 777 "$WORK/db"
DB=127.0.0.1:$WORK/db/demo.fdb
cleanup() {
  printf "connect '%s';\ndrop database;\n" "$DB" | isql-fb -q -user DORVANA -password dorvana >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT

"$ROOT/scripts/fbserver.sh" start >/dev/null
"$ROOT/scripts/demo-db.sh" "$DB" >/dev/null
mkdir "$WORK/site"
printf 'SERVER NAME=%s\r\nUSER NAME=DORVANA\r\nPASSWORD=dorvana\r\n' "$DB" > "$WORK/site/dorvana.def"

echo "| Run | Rows | Body bytes | Import wall s | Reply |"
echo "|---|---|---|---|---|"
for run in $(seq 1 "$RUNS"); do
  "$ROOT/bench/intake/order.sh" "large-$run-$$" "$ROWS" > "$WORK/order.xml"
  bytes=$(stat -c %s "$WORK/order.xml")
  start=$(date +%s.%N)
  (cd "$WORK/site" && env -i REQUEST_METHOD=POST QUERY_STRING=q=addorder CONTENT_LENGTH="$bytes" \
    CONTENT_TYPE=application/x-www-form-urlencoded "$PROGRAM" < "$WORK/order.xml" > "$WORK/reply")
  end=$(date +%s.%N)
  rm -rf "$WORK/site/Orders"
  printf '| %s | %s | %s | %.1f | %s |\n' "$run" "$ROWS" "$bytes" "$(echo "$end - $start" | bc)" \
    "$(sed -n '$p' "$WORK/reply" | head -c 60)"
done
