#!/bin/bash
# What compression costs and saves on the menu: builds the benchmark database
# (bench/db, 1,980 items on sale to card 5001 at HALL-1) on the local server,
# serves the program under each web server in each mode, and for the menu
# (q=getsprfood&user=5001&device=HALL-1) prints
#   - the bytes on the wire, headers and body, without and with
#     "Accept-Encoding: gzip";
#   - the web server's own CPU time per request (user + system, from /proc, of
#     its processes: not of fcgiwrap nor of the program) over N requests in one
#     kept connection, without and with.
#
#   bench/gzip.sh PROGRAM [N]        (N defaults to 500)
#
# WEBS="lighttpd apache nginx" and MODES="cgi fastcgi" choose what is measured.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
PROGRAM=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
N=${2:-500}
WORK=$(mktemp -d /tmp/dorvana-gzip.XXXXXX)
chmod 755 "$WORK"
mkdir -m 777 "$WORK/db"
DB=127.0.0.1:$WORK/db/bench.fdb
DB_USER=${DORVANA_DB_USER:-DORVANA}
DB_PASSWORD=${DORVANA_DB_PASSWORD:-dorvana}
SITE=
cleanup() {
  if [ -n "$SITE" ]; then "$ROOT/scripts/${SITE%% *}.sh" stop "${SITE#* }" >/dev/null 2>&1 || true; fi
  printf "connect '%s';\ndrop database;\n" "$DB" |
    isql-fb -q -user "$DB_USER" -password "$DB_PASSWORD" >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT
source "$ROOT/tests/e2e/free_port.sh"
"$ROOT/scripts/fbserver.sh" start >/dev/null
"$ROOT/bench/db/make-bench-db.sh" "$DB" >/dev/null

# The CPU ticks (user + system) of the processes named $2 in the tree under $1.
server_ticks() {
  local pids
  pids=$(ps -o pid= --ppid "$1"; echo "$1")
  for p in $pids; do
    [ "$(cat "/proc/$p/comm" 2>/dev/null)" = "$2" ] && awk '{ print $14 + $15 }' "/proc/$p/stat"
  done | awk '{ s += $1 } END { print s + 0 }'
}

hz=$(getconf CLK_TCK)
printf '| Server | Mode | Accept-Encoding | Headers B | Body B | Server CPU ms/request | Wall s for %s |\n|---|---|---|---|---|---|---|\n' "$N"
for web in ${WEBS:-lighttpd apache nginx}; do
  for mode in ${MODES:-cgi fastcgi}; do
    dir=$WORK/$web-$mode
    mkdir -p "$dir"
    printf 'SERVER NAME=%s\r\nUSER NAME=%s\r\nPASSWORD=%s\r\n' "$DB" "$DB_USER" "$DB_PASSWORD" >"$dir/dorvana.def"
    port=$(free_port)
    MODE=$mode DORVANA_BIN=$PROGRAM "$ROOT/scripts/$web.sh" start "$dir" "$port" >/dev/null
    SITE="$web $dir"
    case $web in
      lighttpd) pidfile=$dir/.lighttpd/lighttpd.pid comm=lighttpd ;;
      apache) pidfile=$dir/.apache/httpd.pid.started comm=apache2 ;;
      nginx) pidfile=$dir/.nginx/nginx.pid.started comm=nginx ;;
    esac
    pid=$(cat "$pidfile")
    url="http://127.0.0.1:$port/dorvana?q=getsprfood&user=5001&device=HALL-1"
    for enc in none gzip; do
      hdr=()
      if [ "$enc" = gzip ]; then hdr=(-H 'Accept-Encoding: gzip'); fi
      # A first request warms the program's processes up and gives the sizes.
      sizes=$(curl -s -o /dev/null -w '%{size_header} %{size_download}' "${hdr[@]}" "$url")
      for i in $(seq 1 "$N"); do printf 'url = "%s"\noutput = /dev/null\n' "$url"; done >"$WORK/urls"
      before=$(server_ticks "$pid" "$comm")
      start=$(date +%s.%N)
      curl -s "${hdr[@]}" -K "$WORK/urls"
      end=$(date +%s.%N)
      after=$(server_ticks "$pid" "$comm")
      read -r head body <<<"$sizes"
      awk -v w="$web" -v m="$mode" -v e="$enc" -v h="$head" -v b="$body" -v t=$((after - before)) \
        -v hz="$hz" -v n="$N" -v s="$start" -v f="$end" \
        'BEGIN { printf "| %s | %s | %s | %d | %d | %.3f | %.1f |\n", w, m, e, h, b, t * 1000 / hz / n, f - s }'
    done
    "$ROOT/scripts/$web.sh" stop "$dir" >/dev/null
    SITE=
  done
done
