#!/bin/bash
# Writes bench/RESULTS.md (to standard output) from the raw figures of a run of
# bench/run. Called by bench/run; the options carry what the run knows.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

while [ $# -gt 0 ]; do
  case "$1" in
    --work) WORK=$2 ;; --prog) PROG=$2 ;; --args) ARGS=$2 ;; --reps) REPS=$2 ;;
    --ereps) EREPS=$2 ;; --duration) DURATION=$2 ;; --soak) SOAK=$2 ;;
    --soak-line) SOAK_LINE=$2 ;; --equal) EQUAL=$2 ;;
    *) echo "report.sh: unknown option $1" >&2; exit 2 ;;
  esac
  shift 2
done
RAW=$WORK/raw
COMMANDS="test getsprfood getsprfoodgroup getsprstewards addorder"
FAILS=()

cpu=$(awk -F: '/^model name/ { sub(/^ +/, "", $2); print $2; exit }' /proc/cpuinfo)
mem=$(awk '/^MemTotal/ { printf "%.1f GiB", $2 / 1048576 }' /proc/meminfo)
os=$(. /etc/os-release 2>/dev/null && echo "$PRETTY_NAME" || uname -s)
fbver=$(dpkg-query -W -f '${Version}' firebird3.0-server-core 2>/dev/null || echo "?")
ltver=$( (lighttpd -v 2>/dev/null || true) | head -1 | awk '{ print $1 }')
wrkver=$( (wrk -v 2>&1 || true) | head -1 | awk '{ print $2 }')
commit=$(git -C "$ROOT" rev-parse --short HEAD 2>/dev/null || echo "?")

# Value of column COL (1-based) of LABEL in a cost file.
cost() { awk -F'\t' -v l="$2" -v c="$3" '$1 == l { print $c }' "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
le() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a <= b) }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

cat <<EOF
# Benchmark results

What one terminal request costs the program, against the floor programs in
bench/floor: minimal C programs that give the same answer bytes by calling the
client library directly (same attach parameters, transaction parameters and
statements; SIGTERM blocked, \`_exit(0)\` at the end). Written by \`bench/run\`;
the analysis at the end is kept by hand in bench/ANALYSIS.md.

- Date: $(date -u '+%Y-%m-%d %H:%M UTC')
- Machine: $cpu, $(nproc) cores, $mem, $os, kernel $(uname -r)
- Firebird $fbver (server on 127.0.0.1:3050, database linger 60 s; embedded engine
  for the single-request figures marked so), lighttpd $ltver (mod_cgi), wrk $wrkver
- Program: $PROG at commit $commit (Release build)
- Command: \`bench/run${ARGS:+ $ARGS}\` ($REPS interleaved rounds per command
  through the server, $EREPS on the embedded engine; wrk runs of ${DURATION} s;
  soak ${SOAK} s)
- Database: bench/db/make-bench-db.sh, 2,000 menu items in 60 groups, 1,980 of
  them on sale to card 5001 at station HALL-1, 100 waiters (95 listed); orders of
  10 rows with a fresh GUID each.

The floors come in two forms: \`floor\` attaches and runs the statements only;
\`floor_full\` also does what the program's connect does after the attach
(database-info reads and the server clock query in a transaction of its own).
The targets are judged against \`floor_full\`, which does the same work as the
program; the ratio to the bare floor is shown beside it.

## Answers: program against floor

| Command | Database | Answer bytes | Program vs floor |
|---|---|---|---|
$EQUAL
Order answers carry different GUIDs, so their equality is that of the reply ("ok").

EOF

cost_table() {  # WHERE TITLE
  local where=$1 cmd f
  echo "## Per-process cost, $2"
  echo
  echo "Medians of wall time and CPU time (user + system) per process; peak RSS is the"
  echo "median of the processes' maximum resident set; DB CPU is the database server's"
  echo "CPU time per request (averaged over the run; server only)."
  echo
  echo "| Command | Program wall ms | floor_full wall ms | Ratio | floor wall ms | Ratio | Program CPU ms | floor_full CPU ms | Program RSS MiB | floor_full RSS MiB | DB CPU ms program / floor_full | Failures |"
  echo "|---|---|---|---|---|---|---|---|---|---|---|---|"
  for cmd in $COMMANDS; do
    f=$RAW/cost-$where-$cmd.tsv
    [ -f "$f" ] || continue
    local full=floor_full
    [ "$cmd" = test ] && full=floor
    local pw fw bw pc fc pr fr ps fs pf ff
    pw=$(cost "$f" program 3); fw=$(cost "$f" $full 3); bw=$(cost "$f" floor 3)
    pc=$(cost "$f" program 5); fc=$(cost "$f" $full 5)
    pr=$(cost "$f" program 6); fr=$(cost "$f" $full 6)
    ps=$(cost "$f" program 8); fs=$(cost "$f" $full 8)
    pf=$(cost "$f" program 9); ff=$(cost "$f" $full 9)
    local dbcpu="-"
    [ "$where" = srv ] && [ "$cmd" != test ] && dbcpu="$ps / $fs"
    echo "| $cmd | $pw | $fw | $(ratio "$pw" "$fw") | $bw | $(ratio "$pw" "$bw") | $pc | $fc | $(mib "$pr") | $(mib "$fr") | $dbcpu | $pf / $ff |"
    local limit=1.10
    [ "$cmd" = test ] && limit=2.00
    if ! le "$(ratio "$pw" "$fw")" "$limit"; then
      FAILS+=("$cmd ($2): wall $(ratio "$pw" "$fw")x its floor, target <= ${limit}x")
    fi
    if ! le "$pr" "$((fr + 4096))"; then
      FAILS+=("$cmd ($2): peak memory $(mib "$pr") MiB against the floor's $(mib "$fr") MiB + 4 MiB")
    fi
    if [ "$pf" != 0 ]; then FAILS+=("$cmd ($2): $pf failed program runs"); fi
  done
  echo
}
cost_table srv "through the server on 127.0.0.1"
cost_table emb "embedded engine"

echo "## Throughput and latency under lighttpd (wrk, one connection per thread)"
echo
echo "Requests per second and latency percentiles; \"bad\" counts answers that are not"
echo "the expected status and document (or \"ok\"), \"errors\" wrk's socket errors and"
echo "time-outs, \"left\" CGI processes still alive a second after the run."
echo
echo "| Command | Conns | Program req/s | Floor req/s | Ratio | Program p50 ms | Floor p50 ms | Program p99 ms | Floor p99 ms | Bad / errors program | Bad / errors floor | Left |"
echo "|---|---|---|---|---|---|---|---|---|---|---|---|"
WRK=$RAW/wrk.tsv
val() { awk -F'\t' -v c="$1" -v n="$2" -v w="$3" -v k="$4" '$1 == c && $2 == n && $3 == w { print $k }' "$WRK"; }
for cmd in $COMMANDS; do
  for c in 1 2 4 8; do
    prps=$(val "$cmd" "$c" program 4); frps=$(val "$cmd" "$c" floor 4)
    [ -n "$prps" ] || continue
    r=$(ratio "$prps" "$frps")
    left=$(( $(val "$cmd" "$c" program 10) + $(val "$cmd" "$c" floor 10) ))
    echo "| $cmd | $c | $prps | $frps | $r | $(val "$cmd" "$c" program 5) | $(val "$cmd" "$c" floor 5) | $(val "$cmd" "$c" program 6) | $(val "$cmd" "$c" floor 6) | $(val "$cmd" "$c" program 8) / $(val "$cmd" "$c" program 9) | $(val "$cmd" "$c" floor 8) / $(val "$cmd" "$c" floor 9) | $left |"
    le 0.9 "$r" || FAILS+=("$cmd at $c connections: $r x the floor's requests per second, target >= 0.9x")
    [ "$(val "$cmd" "$c" program 8)" = 0 ] && [ "$(val "$cmd" "$c" program 9)" = 0 ] ||
      FAILS+=("$cmd at $c connections: the program had bad answers or errors")
    [ "$left" = 0 ] || FAILS+=("$cmd at $c connections: $left CGI processes left alive")
  done
done
echo
echo "![p50 latency and requests per second against connections](throughput.png)"
echo
echo "## Orders: every order answered \"ok\" checked from a second connection"
echo
echo "\"Missing\": answered \"ok\" but not in the database; \"doubled\": more than one"
echo "header; \"half\": not exactly 10 rows and one restaurant order; \"unanswered\":"
echo "imported, but wrk stopped before the answer came (in flight at the end of a run)."
echo
echo "| Program | Conns | Answered ok | In database | Missing | Doubled | Half-imported | Unanswered |"
echo "|---|---|---|---|---|---|---|---|"
tail -n +2 "$RAW/orders.tsv" | while IFS=$'\t' read -r who c a d m db h u; do
  echo "| $who | $c | $a | $d | $m | $db | $h | $u |"
done
while IFS=$'\t' read -r who c a d m db h u; do
  [ "$m$db$h" = 000 ] || FAILS+=("orders of $who at $c connections: $m missing, $db doubled, $h half-imported")
done < <(tail -n +2 "$RAW/orders.tsv")
echo

if [ -n "$SOAK_LINE" ]; then
  read -r rps requests bad errors left crashes answered in_db missing doubled half unanswered <<<"$SOAK_LINE"
  mem() {  # COLUMN -> "first -> last (max)"
    awk -F'\t' -v c="$1" 'NR > 1 && $c > 0 { if (!f) f = $c; l = $c; if ($c > m) m = $c }
      END { printf "%.1f MiB at the start, %.1f MiB at the end, %.1f MiB at most", f / 1024, l / 1024, m / 1024 }' \
      "$RAW/memory.tsv"
  }
  cat <<EOF
## Soak

Mixed load at 4 connections for ${SOAK} s, every answer checked: per 10 requests 4
orders, 2 \`getsprfood\`, 2 \`getsprfoodgroup\`, 2 \`getsprstewards\`.

| Figure | Value |
|---|---|
| Requests, requests per second | $requests, $rps |
| Bad answers, socket errors | $bad, $errors |
| Orders answered "ok" / in the database | $answered / $in_db |
| Lost, doubled, half-imported orders | $missing, $doubled, $half |
| Imported but unanswered (in flight at the end) | $unanswered |
| Crashed programs (lighttpd's error log) | $crashes |
| CGI processes left alive after the soak | $left |
| lighttpd memory | $(mem 2) |
| Database server memory | $(mem 3) |

EOF
  [ "$bad$errors" = 00 ] || FAILS+=("soak: $bad bad answers, $errors socket errors")
  [ "$missing$doubled$half" = 000 ] || FAILS+=("soak: $missing lost, $doubled doubled, $half half-imported orders")
  [ "$left$crashes" = 00 ] || FAILS+=("soak: $crashes crashed, $left hung processes")
fi

echo "## Targets"
echo
if [ ${#FAILS[@]} = 0 ]; then
  echo "Every target is met in this run."
else
  echo "Missed in this run:"
  echo
  for f in "${FAILS[@]}"; do echo "- $f"; done
fi
echo
echo "The Firebird server holds back about 1 % of attaches for 1 s when two or more"
echo "clients attach at once, so p99 at 2 or more connections is near 1 s for any"
echo "program that attaches per request, the floor included; p50 and requests per"
echo "second are the figures to judge."
echo
if [ -f "$ROOT/bench/ANALYSIS.md" ]; then
  cat "$ROOT/bench/ANALYSIS.md"
fi
