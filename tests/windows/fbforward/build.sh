#!/usr/bin/env bash
# Builds the forwarding client library for the Windows pass: OUT_DIR/fbclient.dll,
# a Wine builtin module that Wine loads as fbclient.dll when the file lies beside
# the program, and that hands every call to the Linux client library
# (libfbclient.so.2) and so to a real Firebird server. Needs gcc, winegcc
# (wine64-tools) and the client library's header (firebird-dev).
#
#   tests/windows/fbforward/build.sh [--i386] OUT_DIR
#
# --i386: the 32-bit module, for the 32-bit program, over the i386 client
# library (libfbclient2:i386), with gcc -m32 and winegcc -m32 (gcc-multilib,
# libwine-dev:i386; the windows32 group of scripts/packages.sh).
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/../../.." && pwd)
GEN=() M=() ABI='libc6,x86-64'
if [ "${1:-}" = --i386 ]; then
  GEN=(--i386) M=(-m32) ABI=libc6
  shift
fi
OUT=$1
LIB=$(ldconfig -p | sed -n "s/^\\s*libfbclient.so.2 ($ABI) => //p" | head -1)
[ -n "$LIB" ] || { echo "no libfbclient.so.2 ($ABI) (libfbclient2)" >&2; exit 1; }
mkdir -p "$OUT"
if [ -f "$OUT/fbclient.dll" ] && [ -z "$(find "$HERE" "$ROOT/fb/IB_Intf.h" -newer "$OUT/fbclient.dll")" ]; then
  exit 0
fi
python3 "$HERE/gen.py" "${GEN[@]}" "$ROOT/fb/IB_Intf.h" /usr/include/ibase.h "$LIB" "$HERE/byhand.c" "$OUT"
# Plain gcc: winegcc would define _WIN32, and the header would then declare the
# Linux library's functions with the Windows calling convention.
for src in "$OUT/forward.c" "$HERE/byhand.c"; do
  gcc "${M[@]}" -std=gnu11 -O1 -fPIC -Wall -Wno-deprecated-declarations -c "$src" -o "$OUT/$(basename "$src" .c).o"
done
if [ "${GEN[*]}" = --i386 ]; then
  # The exports come from Wine's export file, with their conventions; the 32-bit
  # library is linked by its path (no development link for i386).
  winegcc -m32 -shared "$OUT/fbclient.spec" "$OUT/forward.o" "$OUT/byhand.o" -o "$OUT/fbclient.dll.so" "$LIB"
else
  winegcc -shared "$OUT/fbclient.def" "$OUT/forward.o" "$OUT/byhand.o" -o "$OUT/fbclient.dll.so" -lfbclient
fi
# Wine loads the ELF module itself when the file named fbclient.dll is on the
# search path; found only through WINEDLLPATH it fails to load.
mv "$OUT/fbclient.dll.so" "$OUT/fbclient.dll"
