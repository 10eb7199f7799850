#!/bin/bash
# The cost of the program's connect and module destruction, per process, beside
# a minimal C program that calls the client library directly, in the same run:
# on the embedded engine and through the server on 127.0.0.1.
#
#   bench/fb/run.sh [RUNS]      (default 200 runs per variant; needs root for the
#                                server script, hyperfine, cmake, a C compiler)
#
# Variants, each one process per run:
#   program         connect_bench: the service's connection and transactions,
#                   connect (with the server clock query), module destroyed,
#                   _exit(0) as the program does
#   floor           connect_floor: attach and detach, _exit(0)
#   floor --full    the same follow-up reads and clock query as the program
#   floor --exit    through the server only: attach, detach, plain exit(), which
#                   runs the client library's exit-time shutdown
#   ... x20         twenty rounds in one process (no process start and exit)
# hyperfine runs them interleaved with warm-up; results in build-fb-bench/.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
BUILD=$ROOT/build-fb-bench
RUNS=${1:-200}

cmake -S "$ROOT/bench/fb" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$BUILD" -j2 >/dev/null
"$ROOT/scripts/fbserver.sh" start

DIR=$(mktemp -d /tmp/dorvana-fbbench-XXXXXX)
chmod 0777 "$DIR"
trap 'rm -rf "$DIR"' EXIT
printf "CREATE DATABASE '%s' USER 'SYSDBA' DEFAULT CHARACTER SET WIN1251;\n" "$DIR/local.fdb" |
  isql-fb -q
printf "CREATE DATABASE '127.0.0.1:%s' USER 'DORVANA' PASSWORD 'dorvana' DEFAULT CHARACTER SET WIN1251;\n" \
  "$DIR/server.fdb" | isql-fb -q

LOCAL="$DIR/local.fdb SYSDBA ''"
REMOTE="127.0.0.1:$DIR/server.fdb DORVANA dorvana"
B=$BUILD
hyperfine -N --warmup 10 --runs "$RUNS" --export-json "$BUILD/embedded.json" \
  -n "program, embedded" "$B/connect_bench $LOCAL" \
  -n "floor, embedded" "$B/connect_floor $LOCAL" \
  -n "floor --full, embedded" "$B/connect_floor $LOCAL 1 --full"
hyperfine -N --warmup 10 --runs "$RUNS" --export-json "$BUILD/server.json" \
  -n "program, 127.0.0.1" "$B/connect_bench $REMOTE" \
  -n "floor, 127.0.0.1" "$B/connect_floor $REMOTE" \
  -n "floor --full, 127.0.0.1" "$B/connect_floor $REMOTE 1 --full" \
  -n "floor --exit, 127.0.0.1" "$B/connect_floor $REMOTE 1 --exit"
# Twenty rounds in one process: the connect and destruction alone, without the
# process start and exit (divide by 20).
hyperfine -N --warmup 3 --runs "$(( RUNS / 10 > 5 ? RUNS / 10 : 5 ))" \
  --export-json "$BUILD/rounds.json" \
  -n "program x20, embedded" "$B/connect_bench $LOCAL 20" \
  -n "floor --full x20, embedded" "$B/connect_floor $LOCAL 20 --full" \
  -n "program x20, 127.0.0.1" "$B/connect_bench $REMOTE 20" \
  -n "floor --full x20, 127.0.0.1" "$B/connect_floor $REMOTE 20 --full"
# Medians resist the load of a shared machine better than means.
python3 - "$BUILD/embedded.json" "$BUILD/server.json" "$BUILD/rounds.json" <<'PY'
import json, sys
print("| variant | median ms | mean ms | min ms | runs |")
print("|---|---:|---:|---:|---:|")
for path in sys.argv[1:]:
    for r in json.load(open(path))["results"]:
        print("| %s | %.1f | %.1f | %.1f | %d |" % (
            r["command"], r["median"] * 1e3, r["mean"] * 1e3, r["min"] * 1e3, len(r["times"])))
PY
