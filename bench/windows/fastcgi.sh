#!/usr/bin/env bash
# The Windows program as CGI (wine dorvana.exe per request, as IIS's CGI module
# runs it) and as FastCGI (one process started by tests/windows/launcher as IIS
# starts it), with the Linux program's CGI and FastCGI beside them, in one run:
# requests/s, median and p99 of one request after the other for q=test,
# getsprstewards and an order (a new one each time), against the demo database
# on the local Firebird server, the Windows program through the forwarding
# fbclient.dll. Needs build/dorvana and build-win/ from `scripts/build-windows`.
# Prints a Markdown table; bench/RESULTS.md is left alone.
#
#   bench/windows/fastcgi.sh [CGI-RUNS] [FASTCGI-RUNS]    default 100 and 2000
#                            (the Linux CGI program runs three times CGI-RUNS)
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
NCGI=${1:-100}
NFCGI=${2:-2000}
OUT=$ROOT/build-win
export WINEPREFIX=${WINEPREFIX:-$OUT/wineprefix}
export WINEDEBUG=-all
WINE=$(command -v wine)
# shellcheck source=../../tests/windows/wineserver.sh
source "$ROOT/tests/windows/wineserver.sh"
# shellcheck source=../../tests/e2e/free_port.sh
source "$ROOT/tests/e2e/free_port.sh"
WORK=$(mktemp -d /tmp/dorvana-bench-winfcgi.XXXXXX)
chmod 777 "$WORK"
DB=127.0.0.1:$WORK/demo.fdb
LINUX_PID=
cleanup() {
  if [ -n "$LINUX_PID" ]; then kill "$LINUX_PID" 2>/dev/null || true; wait "$LINUX_PID" 2>/dev/null || true; fi
  wine_server_stop
  printf "connect '%s' user '%s' password '%s';\ndrop database;\n" "$DB" "${DORVANA_DB_USER:-DORVANA}" \
    "${DORVANA_DB_PASSWORD:-dorvana}" | isql-fb -q >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT

for f in "$OUT/dorvana.exe" "$ROOT/build/dorvana"; do
  [ -f "$f" ] || { echo "missing $f (scripts/build-windows; cmake --build build)" >&2; exit 1; }
done
"$ROOT/tests/windows/fbforward/build.sh" "$OUT/tests/fbforward"
mkdir -p "$OUT/tests/launcher"
x86_64-w64-mingw32-gcc -O2 -Wall -Wextra "$ROOT/tests/windows/launcher/launcher.c" \
  -o "$OUT/tests/launcher/launcher.exe" -lpsapi
"$ROOT/scripts/fbserver.sh" start >/dev/null
"$ROOT/scripts/demo-db.sh" "$DB" >/dev/null
mkdir -p "$WORK/win" "$WORK/linux"
cp "$OUT/dorvana.exe" "$OUT/tests/fbforward/fbclient.dll" "$WORK/win/"
for site in win linux; do
  printf 'SERVER NAME=%s\r\nUSER NAME=%s\r\nPASSWORD=%s\r\n' "$DB" "${DORVANA_DB_USER:-DORVANA}" \
    "${DORVANA_DB_PASSWORD:-dorvana}" >"$WORK/$site/dorvana.def"
done

wine_server_start
PORT=$(free_port)
(cd "$WORK/linux" && exec "$ROOT/build/dorvana" --fastcgi "127.0.0.1:$PORT" --processes 1 2>/dev/null) &
LINUX_PID=$!
for _ in $(seq 100); do (exec 3<>"/dev/tcp/127.0.0.1/$PORT") 2>/dev/null && break; sleep 0.1; done

echo "load before: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
cfg=$(printf '{"wine":"%s","wineprefix":"%s","launcher":"%s","exe":"%s","winsite":"%s","linux":"%s","linuxsite":"%s","port":%s,"ncgi":%s,"nfcgi":%s,"scratch":"%s"}' \
  "$WINE" "$WINEPREFIX" "$OUT/tests/launcher/launcher.exe" "$WORK/win/dorvana.exe" "$WORK/win" \
  "$ROOT/build/dorvana" "$WORK/linux" "$PORT" "$NCGI" "$NFCGI" "$WORK")
json=$(python3 "$ROOT/bench/windows/fastcgi_bench.py" "$cfg")
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)" >&2
python3 - "$json" <<'PY'
import json, sys
r = json.loads(sys.argv[1])
print("| Command | Windows CGI req/s (p99 ms) | Windows FastCGI req/s (p99 ms) | FastCGI / CGI, Windows | Linux CGI req/s (p99 ms) | Linux FastCGI req/s (p99 ms) | FastCGI / CGI, Linux |")
print("|---|---|---|---|---|---|---|")
for name, v in r.items():
    c = lambda k: "%.1f (%.1f)" % (v[k]["rps"], v[k]["p99"])
    print("| %s | %s | %s | %.0fx | %s | %s | %.0fx |" % (
        name, c("win-cgi"), c("win-fcgi"), v["win-fcgi"]["rps"] / v["win-cgi"]["rps"],
        c("linux-cgi"), c("linux-fcgi"), v["linux-fcgi"]["rps"] / v["linux-cgi"]["rps"]))
PY
