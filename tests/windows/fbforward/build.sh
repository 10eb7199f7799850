#!/usr/bin/env bash
# Builds the forwarding client library for the Windows pass: OUT_DIR/fbclient.dll,
# a Wine builtin module that Wine loads as fbclient.dll when the file lies beside
# the program, and that hands every call to the Linux client library
# (libfbclient.so.2) and so to a real Firebird server. Needs gcc, winegcc
# (wine64-tools) and the client library's header (firebird-dev).
#
#   tests/windows/fbforward/build.sh OUT_DIR
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/../../.." && pwd)
OUT=$1
LIB=$(ldconfig -p | sed -n 's/^\s*libfbclient.so.2 (libc6,x86-64) => //p' | head -1)
[ -n "$LIB" ] || { echo "no libfbclient.so.2 (libfbclient2)" >&2; exit 1; }
mkdir -p "$OUT"
if [ -f "$OUT/fbclient.dll" ] && [ -z "$(find "$HERE" "$ROOT/fb/IB_Intf.h" -newer "$OUT/fbclient.dll")" ]; then
  exit 0
fi
python3 "$HERE/gen.py" "$ROOT/fb/IB_Intf.h" /usr/include/ibase.h "$LIB" "$HERE/byhand.c" "$OUT"
# Plain gcc: winegcc would define _WIN32, and the header would then declare the
# Linux library's functions with the Windows calling convention.
for src in "$OUT/forward.c" "$HERE/byhand.c"; do
  gcc -std=gnu11 -O1 -fPIC -Wall -Wno-deprecated-declarations -c "$src" -o "$OUT/$(basename "$src" .c).o"
done
winegcc -shared "$OUT/fbclient.def" "$OUT/forward.o" "$OUT/byhand.o" -o "$OUT/fbclient.dll.so" -lfbclient
# Wine loads the ELF module itself when the file named fbclient.dll is on the
# search path; found only through WINEDLLPATH it fails to load.
mv "$OUT/fbclient.dll.so" "$OUT/fbclient.dll"
