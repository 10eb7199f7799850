#!/usr/bin/env bash
# Wall time of one q=test request: the Linux program against the Windows program
# under wine, in the same hyperfine run. Needs build/dorvana and build-win/dorvana.exe
# (scripts/build-windows).
#
#   bench/windows/qtest.sh [RUNS]      default 50
#
# One persistent wine server serves every run (as it would for a busy site's
# many processes); it is started here and stopped again.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
RUNS=${1:-50}
export WINEPREFIX=${WINEPREFIX:-$ROOT/build-win/wineprefix}
export WINEDEBUG=-all
# shellcheck source=../../tests/windows/wineserver.sh
source "$ROOT/tests/windows/wineserver.sh"
WORK=$(mktemp -d /tmp/dorvana-bench-win.XXXXXX)
cleanup() {
  wine_server_stop
  rm -rf "$WORK"
}
trap cleanup EXIT

wine_server_start
sleep 1

cd "$WORK"
E="env REQUEST_METHOD=GET SERVER_PROTOCOL=HTTP/1.1 QUERY_STRING=q=test&a=1"
hyperfine -N -w 5 -r "$RUNS" --export-json "$WORK/q.json" \
  -n linux "$E $ROOT/build/dorvana" -n wine "$E wine $ROOT/build-win/dorvana.exe"
python3 - "$WORK/q.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
l, w = r["linux"], r["wine"]
print(f"q=test: linux {l['mean']*1e3:.1f} ms (median {l['median']*1e3:.1f}), "
      f"wine {w['mean']*1e3:.1f} ms (median {w['median']*1e3:.1f}); "
      f"ratio of means {w['mean']/l['mean']:.1f}, of medians {w['median']/l['median']:.1f}")
PY
ls -l "$ROOT/build-win/dorvana.exe" | awk '{print "dorvana.exe: " $5 " bytes"}'
