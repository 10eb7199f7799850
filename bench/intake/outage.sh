#!/bin/bash
# Program processes left waiting while the database host is unreachable in the
# worst way: it accepts connections and never answers. Serves the program under
# lighttpd with a settings file naming such a listener, sends RATE menu requests
# a second for SECONDS (each client gives up after 10 s, as a terminal does), and
# samples once a second how many program processes are alive. Prints the samples
# every 5 s and the largest count.
#
#   bench/intake/outage.sh PROGRAM [SECONDS] [RATE]     (defaults 40, 8)
#
# A process alive T seconds and a steady RATE give RATE x T processes once the
# outage lasts longer than T: T is the client library's own 180 s without a
# bound, the connect timeout with one. Needs lighttpd, curl and python3.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
PROGRAM=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
DURATION=${2:-40}
RATE=${3:-8}
WORK=$(mktemp -d /tmp/dorvana-outage.XXXXXX)
chmod 755 "$WORK"
SAMPLER=
SITE=
cleanup() {
  # The listener goes first: its connections close, and every waiting process
  # ends with a connect failure.
  silent_listener_stop
  if [ -n "$SITE" ]; then "$ROOT/scripts/lighttpd.sh" stop "$SITE" >/dev/null 2>&1 || true; fi
  wait 2>/dev/null || true
  rm -rf "$WORK"
}
source "$ROOT/tests/e2e/free_port.sh"
trap cleanup EXIT

SILENT_PORT=$(free_port)
silent_listener_start "$SILENT_PORT"

SITE=$WORK/site
mkdir -p "$SITE"
printf 'SERVER NAME=127.0.0.1/%s:/srv/db/restaurant.fdb\r\nUSER NAME=DORVANA\r\nPASSWORD=dorvana\r\n' \
  "$SILENT_PORT" > "$SITE/dorvana.def"
port=$(free_port)
DORVANA_BIN=$PROGRAM "$ROOT/scripts/lighttpd.sh" start "$SITE" "$port" >/dev/null
url="http://127.0.0.1:$port/dorvana?q=getsprfood&user=1001&device=HALL-1"

alive() { pgrep -c -f "^$SITE/dorvana" || true; }
# The sampler: about one line a second, "elapsed-seconds count", by the clock.
t0=$EPOCHREALTIME
(
  while :; do
    sleep 1
    n=$(alive)
    elapsed=$(awk -v s="$t0" -v now="$EPOCHREALTIME" 'BEGIN { printf "%.1f", now - s }')
    echo "$elapsed $n"
    awk -v e="$elapsed" -v d="$DURATION" 'BEGIN { exit !(e >= d) }' && break
  done
) > "$WORK/samples" &
SAMPLER=$!
# The load, by the clock: request i leaves at i / RATE seconds.
start=$t0
total=$((DURATION * RATE))
for i in $(seq 0 $((total - 1))); do
  wait_s=$(awk -v s="$start" -v now="$EPOCHREALTIME" -v i="$i" -v r="$RATE" 'BEGIN { d = s + i / r - now; printf "%.3f", (d > 0 ? d : 0) }')
  sleep "$wait_s"
  curl -s -o /dev/null --max-time 10 "$url" &
done
wait "$SAMPLER"
echo "| Second | Requests sent by then | Program processes alive |"
echo "|---|---|---|"
awk -v r="$RATE" 'int($1) >= next5 { printf "| %.1f | %d | %d |\n", $1, $1 * r, $2; next5 = int($1 / 5) * 5 + 5 }' "$WORK/samples"
max=$(awk '$2 > m { m = $2 } END { print m + 0 }' "$WORK/samples")
echo
echo "Largest count: $max program processes during ${DURATION} s at $RATE requests/s ($total requests)."
