#!/usr/bin/env bash
# What one whole request costs: the program run as a CGI process answering
# q=test&a=1 (no database), measured as wall time per process with hyperfine and
# as peak resident memory with /usr/bin/time.
#
#   bench/cgi_test.sh [PROGRAM]     default build/dorvana; RUNS=N (default 500)
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
PROGRAM=$(realpath "${1:-$ROOT/build/dorvana}")
RUNS=${RUNS:-500}
WORK=$(mktemp -d /tmp/dorvana-bench.XXXXXX)
trap 'rm -rf "$WORK"' EXIT
cd "$WORK"

export REQUEST_METHOD=GET QUERY_STRING='q=test&a=1' SERVER_PROTOCOL=HTTP/1.1
"$PROGRAM" | head -c 200 | grep -q '^Status: 200 OK' || { echo "unexpected answer" >&2; exit 1; }

hyperfine -N --warmup 20 --runs "$RUNS" --export-json "$WORK/wall.json" --style basic "$PROGRAM" \
  >"$WORK/hyperfine.txt" 2>&1
python3 - "$WORK/wall.json" <<'PY'
import json, sys
r = json.load(open(sys.argv[1]))["results"][0]
t = sorted(r["times"])
pct = lambda p: t[min(len(t) - 1, int(p * len(t)))] * 1e3
print(f"wall per process: mean {r['mean']*1e3:.3f} ms, median {pct(0.5):.3f} ms, "
      f"p95 {pct(0.95):.3f} ms, min {t[0]*1e3:.3f} ms ({len(t)} runs)")
PY

rss=()
for _ in $(seq 1 50); do
  rss+=("$( { /usr/bin/time -f '%M' "$PROGRAM" >/dev/null; } 2>&1 )")
done
printf '%s\n' "${rss[@]}" | sort -n | awk '{a[NR]=$1} END {printf "peak RSS per process: median %d KiB, max %d KiB (%d runs)\n", a[int((NR+1)/2)], a[NR], NR}'
