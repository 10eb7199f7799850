#!/usr/bin/env bash
# The 32-bit Windows pass, for the program of scripts/build-windows --arch 32
# (build-win32/, for a 32-bit fbclient.dll):
#
#   tests/windows/run32.sh [BUILD-WIN32-DIR]   default build-win32/
#   tests/windows/run32.sh --can-run           exit 0 when a 32-bit Wine starts here
#
# Always: the package dorvana-VERSION-win32.zip (its files, sums, program and
# install text), and the 32-bit forwarding fbclient.dll (fbforward/build.sh
# --i386), which must export each entry of the program's table with the 32-bit
# client's convention and pop exactly its arguments (ret 4*N; the variadic one
# a plain ret: its caller pops).
# Then, where a 32-bit Wine starts (WINE32, or wine32's loader): the unit tests
# of runtime_tests and cgi_tests (scripts/build-windows --arch 32 --tests), the front end's golden answers run directly, and the database cases
# of db.sh through that forwarder, byte for byte as the Linux program. Elsewhere
# (a kernel with 32-bit emulation off runs no 32-bit program, and there wine32
# must not be installed: it makes /usr/bin/wine the 32-bit loader, which breaks
# the 64-bit pass) those are reported as skipped.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
wine32_loader() {
  if [ -n "${WINE32:-}" ]; then echo "$WINE32"; return; fi
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1 && command -v wine
}
if [ "${1:-}" = --can-run ]; then wine32_loader >/dev/null; exit; fi
OUT=$(cd "${1:-$ROOT/build-win32}" && pwd)
export WINEPREFIX=${WINEPREFIX:-$OUT/wineprefix} WINEDEBUG=-all
SCRATCH=$(mktemp -d /tmp/dorvana-win32.XXXXXX)
# shellcheck source=../../tests/windows/wineserver.sh
source "$ROOT/tests/windows/wineserver.sh"
# shellcheck source=../../tests/e2e/harness.sh
source "$ROOT/tests/e2e/harness.sh" "$OUT/dorvana.exe"
cleanup() {
  if declare -F db_cleanup >/dev/null; then db_cleanup; fi
  wine_server_stop
  rm -rf "$SCRATCH"
}
e2e_at_exit cleanup
ok() { pass "$1"; }
START=$SECONDS

# ---- The package --------------------------------------------------------------------
zip=$("$ROOT/deploy/windows/package.sh" "$OUT/dorvana.exe" "$SCRATCH/dist")
name=$(basename "$zip" .zip)
python3 -m zipfile -e "$zip" "$SCRATCH/unpacked"
files=$(cd "$SCRATCH/unpacked/$name" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | paste -sd' ')
if [[ $name == dorvana-*-win32 ]] && [ "$files" = "INSTALL.txt SHA256SUMS dorvana.def.sample dorvana.exe \
iis/applicationHost.xml iis/cgi/web.config iis/fastcgi/web.config iis/install.ps1" ] &&
  (cd "$SCRATCH/unpacked/$name" && sha256sum --quiet -c SHA256SUMS) && cmp -s "$OUT/dorvana.exe" "$SCRATCH/unpacked/$name/dorvana.exe" &&
  grep -q $'^Dorvana terminal server .* for Windows (32-bit)\r$' "$SCRATCH/unpacked/$name/INSTALL.txt"; then
  ok "package $name.zip: the win64 zip's files, sums that verify, the program, the 32-bit install text"
else
  fail "package $name.zip: the win64 zip's files, sums that verify, the program, the 32-bit install text ($files)"
fi

# ---- The 32-bit forwarding fbclient.dll -----------------------------------------------
FWD=$OUT/tests/fbforward
if "$ROOT/tests/windows/fbforward/build.sh" --i386 "$FWD" 2>"$SCRATCH/fwd.log"; then
  # Every entry the Linux library has; each forwarder's ret against its export line.
  names=$(sed -n 's/^ *X(\([a-zA-Z_]*\),.*/\1/p' "$ROOT/fb/IB_Intf.h" | grep -v '^isc_dsql_batch_execute')
  missing=$(for n in $names; do grep -q "^@ [a-z]* $n(" "$FWD/fbclient.spec" || echo "$n"; done)
  objdump -d --no-show-raw-insn "$FWD/fbclient.dll" | awk '/^[0-9a-f]+ </ { fn = $2; gsub(/[<>:]/, "", fn) }
    $2 == "ret" && fn ~ /^fwd_/ { print fn, ($3 == "" ? "$0x0" : $3) }' >"$SCRATCH/rets"
  wrong=$(awk 'NR == FNR { ret[$1] = ret[$1] " " $2; next }
    /^@/ { name = $3; sub(/\(.*/, "", name); args = $0; sub(/^[^(]*\(/, "", args); sub(/\).*/, "", args)
      want = $2 == "stdcall" ? sprintf("$0x%x", 4 * split(args, a, " ")) : "$0x0"
      if ($2 !~ /^(stdcall|varargs)$/ || ret["fwd_" name] != " " want) print name ret["fwd_" name] }' \
    "$SCRATCH/rets" "$FWD/fbclient.spec")
  if file -b "$FWD/fbclient.dll" | grep -q '^ELF 32-bit.*80386' && [ -z "$missing$wrong" ] &&
    grep -q '^@ varargs isc_event_block(' "$FWD/fbclient.spec"; then
    ok "32-bit forwarder: every entry exported stdcall popping its arguments, the variadic ones cdecl"
  else
    fail "32-bit forwarder: missing '$missing', wrong convention '$wrong'"
  fi
else
  fail "32-bit forwarder: not built"
  cat "$SCRATCH/fwd.log"
fi

# ---- Under a 32-bit Wine ----------------------------------------------------------------
if ! WINE=$(wine32_loader); then
  if /lib/ld-linux.so.2 --help >/dev/null 2>&1; then why="no 32-bit Wine (wine32:i386, or WINE32)"
  else why="this kernel runs no 32-bit program (ia32_emulation off)"; fi
  echo "skip 32-bit unit tests, golden answers and database cases under wine: $why"
  echo "32-bit pass: $((SECONDS - START)) s"
  finish
  exit
fi
wine_server_start
for program in runtime/runtime_tests cgi/cgi_tests; do
  if (cd "$SCRATCH" && timeout 600 "$WINE" "$OUT/tests/$program.exe" >"$SCRATCH/log" 2>&1); then
    ok "32-bit $program"
  else
    fail "32-bit $program"
    tail -30 "$SCRATCH/log"
  fi
done
printf '#!/bin/sh\nexec env WINEPREFIX=%q WINEDEBUG=-all HOME=%q PATH=/usr/bin:/bin %q %q\n' \
  "$WINEPREFIX" "$HOME" "$WINE" "$OUT/dorvana.exe" >"$SCRATCH/dorvana"
chmod +x "$SCRATCH/dorvana"
cases=$(sed -n '/^source .*harness.sh/,/^# Through /p' "$ROOT/tests/e2e/frontend_test.sh" | sed 1d)
(set +e; source "$ROOT/tests/e2e/harness.sh" "$SCRATCH/dorvana"; eval "$cases"; finish) >"$SCRATCH/golden.log" 2>&1 || true
if grep -q '^ok *direct_test_get$' "$SCRATCH/golden.log" && ! grep -q '^FAIL' "$SCRATCH/golden.log"; then
  ok "32-bit golden answers of frontend_test.sh"
else
  fail "32-bit golden answers of frontend_test.sh"
  grep -v '^ok' "$SCRATCH/golden.log" | head -40
fi
# db.sh takes OUT, WINE, WINEPREFIX, REGIONAL_PREFIX and SCRATCH.
REGIONAL_PREFIX=$SCRATCH/prefix-regional
cp -a "$WINEPREFIX" "$REGIONAL_PREFIX"
WINEPREFIX=$REGIONAL_PREFIX "$WINE" reg add 'HKCU\Control Panel\International' /v sDecimal /d , /f >/dev/null 2>&1
# shellcheck source=db.sh
source "$ROOT/tests/windows/db.sh"
echo "32-bit pass: $((SECONDS - START)) s"
finish
