#!/bin/bash
# Writes bench/RESULTS.md (to standard output) from the raw figures of a run of
# bench/run. Called by bench/run; the options carry what the run knows.
set -euo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)

while [ $# -gt 0 ]; do
  case "$1" in
    --work) WORK=$2 ;; --prog) PROG=$2 ;; --progs) PROGS=$2 ;; --args) ARGS=$2 ;; --reps) REPS=$2 ;;
    --ereps) EREPS=$2 ;; --duration) DURATION=$2 ;; --rounds) ROUNDS=$2 ;; --soak) SOAK=$2 ;;
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
if [ -n "$(git -C "$ROOT" status --porcelain -- main.cpp runtime platform cgi fb xml soap service 2>/dev/null)" ]; then
  commit+=" plus uncommitted changes in the working tree"
fi

# Value of column COL (1-based) of LABEL in a cost file.
cost() { awk -F'\t' -v l="$2" -v c="$3" '$1 == l { print $c }' "$1"; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else print "-" }'; }
le() { awk -v a="$1" -v b="$2" 'BEGIN { exit !(a <= b) }'; }
mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

shared_note=""
case " $PROGS " in
  *" program_shared "*) shared_note="; \`program_shared\` the same sources with those
  libraries shared (\`--shared\`, -DDORVANA_STATIC_DEPS=OFF, build-bench/shared)" ;;
esac
# bench/run samples the load average while it runs; without samples, the present one.
if [ -s "$RAW/load.txt" ]; then
  load_note=$(awk '{ n++; s += $2; if ($2 > m) m = $2 } NR == 1 { f = $2 " " $3 " " $4 } END {
    printf "%s at the start, %s %s %s at the end; 1-min mean %.2f, max %.2f over %d samples", f, $2, $3, $4, s / n, m, n }' "$RAW/load.txt")
else
  load_note="$(cut -d' ' -f1-3 /proc/loadavg) when the report was written"
fi

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
- Program: Release build at commit $commit: \`program\` as CMake links it by default
  (libxml2 and its ICU, zlib and lzma libraries and the C++ runtime linked in
  statically)$shared_note
- Load average (1/5/15 min) of the machine, shared with other users: $load_note
- Command: \`bench/run${ARGS:+ $ARGS}\` ($REPS interleaved rounds per command
  through the server, $EREPS on the embedded engine; per wrk point $ROUNDS runs of
  ${DURATION} s for each variant in turn;
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
  local where=$1 cmd f p
  echo "## Per-process cost, $2"
  echo
  echo "Medians of wall time and CPU time (user + system) per process; RSS is the median"
  echo "of the processes' peak resident set; DB CPU is the database server's CPU time"
  echo "per request (averaged over the run; server only). Ratios are to floor_full"
  echo "(to floor for test) and, in brackets, to the bare floor."
  echo
  local head="| Command | floor_full wall ms | floor wall ms |" line="|---|---|---|"
  for p in $PROGS; do head+=" $p wall ms (ratio) |"; line+="---|"; done
  head+=" CPU ms floor_full / $(echo $PROGS | sed 's/ / \/ /g') | RSS MiB floor_full / $(echo $PROGS | sed 's/ / \/ /g') | DB CPU ms floor_full / $(echo $PROGS | sed 's/ / \/ /g') | Failures |"
  line+="---|---|---|---|"
  echo "$head"
  echo "$line"
  for cmd in $COMMANDS; do
    f=$RAW/cost-$where-$cmd.tsv
    [ -f "$f" ] || continue
    local full=floor_full limit=1.10
    [ "$cmd" = test ] && full=floor limit=2.00
    local fw bw fr row cpus rsss dbs fails
    fw=$(cost "$f" $full 3); bw=$(cost "$f" floor 3); fr=$(cost "$f" $full 6)
    row="| $cmd | $fw | $bw |"
    cpus=$(cost "$f" $full 5); rsss=$(mib "$fr"); dbs=$(cost "$f" $full 8); fails=$(cost "$f" $full 9)
    for p in $PROGS; do
      local pw pr
      pw=$(cost "$f" "$p" 3); pr=$(cost "$f" "$p" 6)
      row+=" $pw ($(ratio "$pw" "$fw") [$(ratio "$pw" "$bw")]) |"
      cpus+=" / $(cost "$f" "$p" 5)"; rsss+=" / $(mib "$pr")"; dbs+=" / $(cost "$f" "$p" 8)"
      fails+=" / $(cost "$f" "$p" 9)"
      le "$(ratio "$pw" "$fw")" "$limit" ||
        FAILS+=("$p, $cmd ($2): wall $(ratio "$pw" "$fw")x its floor, target <= ${limit}x")
      le "$pr" "$((fr + 4096))" ||
        FAILS+=("$p, $cmd ($2): peak memory $(mib "$pr") MiB against the floor's $(mib "$fr") MiB + 4 MiB")
      [ "$(cost "$f" "$p" 9)" = 0 ] || FAILS+=("$p, $cmd ($2): $(cost "$f" "$p" 9) failed runs")
    done
    [ "$where" = srv ] && [ "$cmd" != test ] || dbs="-"
    echo "$row $cpus | $rsss | $dbs | $fails |"
  done
  echo
}
cost_table srv "through the server on 127.0.0.1"
cost_table emb "embedded engine"

if [ -s "$RAW/instructions.tsv" ]; then
  echo "## Instructions per process (callgrind, client side, through the server)"
  echo
  echo "Every instruction the process executes, the dynamic linker and the client"
  echo "library included; the database server's work is not counted. Stable where"
  echo "times on a shared machine are not. Ratio to floor_full (floor for test)."
  echo
  head="| Command | floor | floor_full |" line="|---|---|---|"
  for p in $PROGS; do head+=" $p (ratio) |"; line+="---|"; done
  echo "$head"
  echo "$line"
  ins() { awk -F'\t' -v c="$1" -v w="$2" '$1 == c && $2 == w { print $3 }' "$RAW/instructions.tsv"; }
  fmt() { [ -n "$1" ] && printf "%'d" "$1" 2>/dev/null || echo "-"; }
  for cmd in $COMMANDS; do
    ref=$(ins "$cmd" floor_full); [ -n "$ref" ] || ref=$(ins "$cmd" floor)
    row="| $cmd | $(fmt "$(ins "$cmd" floor)") | $(fmt "$(ins "$cmd" floor_full)") |"
    for p in $PROGS; do row+=" $(fmt "$(ins "$cmd" "$p")") ($(ratio "$(ins "$cmd" "$p")" "$ref")) |"; done
    echo "$row"
  done
  echo
fi

echo "## Throughput and latency under lighttpd (wrk, one connection per thread)"
echo
echo "Per point, each variant ran $ROUNDS times for ${DURATION} s, in turn: requests per second"
echo "are the mean over the runs, p50 and p99 the median of the runs' percentiles;"
echo "\"bad+errors\" counts answers that are not the expected status and document (or"
echo "\"ok\") plus wrk's socket errors and time-outs; \"left\" counts CGI processes still"
echo "alive a second after the last run (floors first, then the programs). Ratios are"
echo "to floor_full, which does the connect's follow-up as the program does (floor_test"
echo "for test), and in brackets to the bare floor."
echo
head="| Command | Conns | floor req/s | floor_full req/s |" line="|---|---|---|---|"
for p in $PROGS; do head+=" $p req/s (ratio [to floor]) |"; line+="---|"; done
head+=" p50 ms floor / floor_full / $(echo $PROGS | sed 's/ / \/ /g') | p99 ms, same order | bad+errors | left |"
line+="---|---|---|---|"
echo "$head"
echo "$line"
WRK=$RAW/wrk.tsv
val() { awk -F'\t' -v c="$1" -v n="$2" -v w="$3" -v k="$4" '$1 == c && $2 == n && $3 == w { print $k }' "$WRK"; }
orzero() { [ -n "$1" ] && echo "$1" || echo 0; }
dash() { [ -n "$1" ] && echo "$1" || echo "-"; }
for cmd in $COMMANDS; do
  for c in 1 2 4 8; do
    frps=$(val "$cmd" "$c" floor 4)
    [ -n "$frps" ] || continue
    ffrps=$(val "$cmd" "$c" floor_full 4)
    ref=$ffrps; [ -n "$ref" ] || ref=$frps
    row="| $cmd | $c | $frps | ${ffrps:--} |"
    p50s="$(val "$cmd" "$c" floor 5) / $(dash "$(val "$cmd" "$c" floor_full 5)")"
    p99s="$(val "$cmd" "$c" floor 6) / $(dash "$(val "$cmd" "$c" floor_full 6)")"
    errs=$(( $(val "$cmd" "$c" floor 8) + $(val "$cmd" "$c" floor 9) + $(orzero "$(val "$cmd" "$c" floor_full 8)") + $(orzero "$(val "$cmd" "$c" floor_full 9)") ))
    left=$(( $(val "$cmd" "$c" floor 10) + $(orzero "$(val "$cmd" "$c" floor_full 10)") ))
    for p in $PROGS; do
      prps=$(val "$cmd" "$c" "$p" 4)
      r=$(ratio "$prps" "$ref")
      row+=" $prps ($r [$(ratio "$prps" "$frps")]) |"
      p50s+=" / $(val "$cmd" "$c" "$p" 5)"; p99s+=" / $(val "$cmd" "$c" "$p" 6)"
      e=$(( $(val "$cmd" "$c" "$p" 8) + $(val "$cmd" "$c" "$p" 9) ))
      l=$(val "$cmd" "$c" "$p" 10)
      errs+=" / $e"; left+=" / $l"
      le 0.9 "$r" || FAILS+=("$p, $cmd at $c connections: ${r}x the floor's requests per second, target >= 0.9x")
      [ "$e" = 0 ] || FAILS+=("$p, $cmd at $c connections: $e bad answers or socket errors")
      [ "$l" = 0 ] || FAILS+=("$p, $cmd at $c connections: $l CGI processes left alive")
    done
    echo "$row $p50s | $p99s | $errs | $left |"
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
if [ -f "$ROOT/bench/memory/RESULTS.md" ]; then
  echo
  cat "$ROOT/bench/memory/RESULTS.md"
fi
