#!/usr/bin/env bash
# The Windows program's requests and its way out under wine, with the scripted
# client library (tests/fakes/ScriptedClient.c) as fbclient.dll, in one
# hyperfine run:
#   - a request without the library (q=test) and one through it (getsprstewards:
#     load, attach, two statements, detach), on Linux and under wine;
#   - exit_cost.exe (bench/windows/ExitCost.c): the library loaded, attached and
#     detached, then TerminateProcess (the program's fast exit), ExitProcess
#     (every DLL's detach code) or a return from main; and the bare process.
# Needs build-win/ from `scripts/build-windows --tests` (the program and the
# scripted fbclient.dll), and build/ with dorvana and scriptedclient for the
# Linux rows (skipped when missing).
#
#   bench/windows/exit.sh [RUNS]      default 40
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
RUNS=${1:-40}
OUT=$ROOT/build-win
export WINEPREFIX=${WINEPREFIX:-$OUT/wineprefix}
export WINEDEBUG=-all
# shellcheck source=../../tests/windows/wineserver.sh
source "$ROOT/tests/windows/wineserver.sh"
WORK=$(mktemp -d /tmp/dorvana-bench-exit.XXXXXX)
cleanup() {
  wine_server_stop
  rm -rf "$WORK"
}
trap cleanup EXIT

DLL=$OUT/tests/fakes/scripted/fbclient.dll
for f in "$OUT/dorvana.exe" "$DLL"; do
  [ -f "$f" ] || { echo "missing $f: run scripts/build-windows --tests first" >&2; exit 1; }
done
x86_64-w64-mingw32-gcc-posix -O2 -Wall -Wextra -I "$OUT/cache/firebird/include" \
  "$ROOT/bench/windows/ExitCost.c" -o "$WORK/exit_cost.exe" -static

# The site: the program, the library, settings, a script answering the list.
SITE=$WORK/site
mkdir -p "$SITE" "$WORK/bare"
cp "$OUT/dorvana.exe" "$DLL" "$SITE/"
printf 'SERVER NAME=scripted.fdb\r\nUSER NAME=U\r\nPASSWORD=P\r\n' >"$SITE/dorvana.def"
printf '%s\n' "on CAST('NOW'" 'column CAST timestamp' 'row 60018 0' 'on RESTAURANT_WAITERS' \
  'column CODE varchar 20' 'column NAME varchar 60' 'row 1005|Volkova' 'row 7|Kim' \
  >"$SITE/scripted_client.txt"

wine_server_start
sleep 1

Q="env REQUEST_METHOD=GET SERVER_PROTOCOL=HTTP/1.1 QUERY_STRING=q=test&a=1"
L="env REQUEST_METHOD=GET SERVER_PROTOCOL=HTTP/1.1 QUERY_STRING=q=getsprstewards"
X="wine $WORK/exit_cost.exe"
commands=(-n "wine q=test" "$Q wine $SITE/dorvana.exe"
  -n "wine getsprstewards" "$L wine $SITE/dorvana.exe"
  -n "exit_cost bare terminate" "$X terminate -"
  -n "exit_cost bare exit" "$X exit -"
  -n "exit_cost dll terminate" "$X terminate $SITE/fbclient.dll scripted.fdb U P"
  -n "exit_cost dll exit" "$X exit $SITE/fbclient.dll scripted.fdb U P"
  -n "exit_cost dll return" "$X return $SITE/fbclient.dll scripted.fdb U P")
if [ -x "$ROOT/build/dorvana" ] && [ -f "$ROOT/build/tests/fakes/scripted/libfbclient.so.2" ]; then
  commands+=(-n "linux q=test" "$Q $ROOT/build/dorvana"
    -n "linux getsprstewards" "$L LD_LIBRARY_PATH=$ROOT/build/tests/fakes/scripted $ROOT/build/dorvana")
fi
# The list must really come through the library before it is timed.
(cd "$SITE" && $L wine "$SITE/dorvana.exe" | grep -q '<pin>1005</pin>Volkova') ||
  { echo "the list did not come through the scripted fbclient.dll" >&2; exit 1; }

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)"
cd "$SITE"
hyperfine -N -w 3 -r "$RUNS" --export-json "$WORK/exit.json" "${commands[@]}" >/dev/null
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
python3 - "$WORK/exit.json" <<'PY'
import json, sys
for x in json.load(open(sys.argv[1]))["results"]:
    print(f"{x['command']:28} median {x['median']*1e3:7.1f} ms  mean {x['mean']*1e3:7.1f} ms"
          f"  sd {x['stddev']*1e3:5.1f} ms")
PY
