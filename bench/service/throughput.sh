#!/bin/bash
# Requests per second through lighttpd for the menu list and for ten-row orders,
# at 1, 2, 4 and 8 concurrent clients: the program beside the floor program
# (bench/floor/floor_db.c, the same database work done with the client library
# directly), in the same run, against the benchmark database on the local
# Firebird server. A shorter companion of bench/run.
#
#   bench/service/throughput.sh PROGRAM [SECONDS]     (default 5 seconds a run)
#
# Prints one table; keeps nothing. Needs wrk, lighttpd, cc, isql-fb and root
# for scripts/fbserver.sh.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
PROGRAM=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
SECONDS_PER_RUN=${2:-5}
WORK=$(mktemp -d /tmp/dorvana-throughput.XXXXXX)
chmod 755 "$WORK"
mkdir -m 777 "$WORK/db"
DB=127.0.0.1:$WORK/db/bench.fdb
SITES=()
cleanup() {
  local dir
  for dir in "${SITES[@]}"; do "$ROOT/scripts/lighttpd.sh" stop "$dir" >/dev/null 2>&1 || true; done
  printf "connect '%s';\ndrop database;\n" "$DB" | isql-fb -q -user DORVANA -password dorvana >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT

"$ROOT/scripts/fbserver.sh" start >/dev/null
"$ROOT/bench/db/make-bench-db.sh" "$DB" >/dev/null
cc -O2 -o "$WORK/floor_db" "$ROOT/bench/floor/floor_db.c" -lfbclient

port_of() { echo $((30000 + RANDOM % 20000)); }
site() {  # NAME BINARY: sets SITE_URL
  local dir=$WORK/$1 port
  mkdir -p "$dir"
  printf 'SERVER NAME=%s\r\nUSER NAME=DORVANA\r\nPASSWORD=dorvana\r\n' "$DB" > "$dir/bench.def"
  while :; do
    port=$(port_of)
    ss -ltn | grep -q ":$port " || break
  done
  DORVANA_BIN=$2 "$ROOT/scripts/lighttpd.sh" start "$dir" "$port" >/dev/null
  SITES+=("$dir")
  SITE_URL=http://127.0.0.1:$port/dorvana
}
site program "$PROGRAM"
PROGRAM_URL=$SITE_URL
site floor "$WORK/floor_db"
FLOOR_URL=$SITE_URL

# Both must answer alike before they are compared.
q='q=getsprfood&user=5001&device=HALL-1'
if ! cmp -s <(curl -s "$PROGRAM_URL?$q") <(curl -s "$FLOOR_URL?$q"); then
  echo "the program and the floor answer getsprfood differently" >&2
  exit 1
fi

run() {  # URL SCRIPT CLIENTS LABEL [CLOSING]: prints requests per second
  local out
  mkdir -p "$WORK/wrk"
  out=$(wrk -t "$3" -c "$3" -d "${SECONDS_PER_RUN}s" --timeout 10s -s "$ROOT/bench/wrk/$2" "$1" \
          -- "$WORK/wrk" "$4" ${5:-} 2>&1 | grep '^RESULT')
  local bad
  bad=$(sed 's/.* bad=\([0-9]*\).*/\1/' <<< "$out")
  [ "$bad" = 0 ] || echo "$4: $bad bad answers" >&2
  sed 's/.*rps=\([0-9.]*\).*/\1/' <<< "$out"
}

printf '%-8s %-9s %12s %12s %8s\n' clients command program floor ratio
for c in 1 2 4 8; do
  p=$(run "$PROGRAM_URL?$q" get.lua "$c" "p-food-$c" "</foods>")
  f=$(run "$FLOOR_URL?$q" get.lua "$c" "f-food-$c" "</foods>")
  printf '%-8s %-9s %12s %12s %8s\n' "$c" getsprfood "$p" "$f" "$(awk "BEGIN { printf \"%.2f\", $p / $f }")"
  p=$(run "$PROGRAM_URL?q=addorder" addorder.lua "$c" "p-order-$c" "p$c$$")
  f=$(run "$FLOOR_URL?q=addorder" addorder.lua "$c" "f-order-$c" "f$c$$")
  printf '%-8s %-9s %12s %12s %8s\n' "$c" addorder "$p" "$f" "$(awk "BEGIN { printf \"%.2f\", $p / $f }")"
done
