#!/usr/bin/env bash
# Makes the Windows package OUT-DIR/dorvana-VERSION-WIDTH.zip from a built
# dorvana.exe (scripts/build-windows --package runs it into dist/):
#
#   deploy/windows/package.sh EXE OUT-DIR
#
# WIDTH is win64 or win32, read from the program's own header (the machine of
# its PE header), so a package cannot name the other width. The zip holds one
# folder, dorvana-VERSION-WIDTH, with the program, the sample
# settings file, INSTALL.txt, deploy/iis/ as iis/, and SHA256SUMS (the sum of
# every other file, paths relative to the folder; sha256sum -c reads it, and so
# does iis/install.ps1). The text files get Windows line ends (CR LF). VERSION
# is the project's (scripts/version). Prints the zip's path.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
if [ $# != 2 ] || [ ! -f "$1" ]; then
  echo "usage: $0 EXE OUT-DIR" >&2
  exit 2
fi
EXE=$1
VERSION=$("$ROOT/scripts/version")
# The PE header's offset is at 0x3c; its machine field follows "PE\0\0".
pe=$(od -An -t u4 -j 60 -N 4 "$EXE" | tr -d ' ')
machine=$(od -An -t x2 -j $((pe + 4)) -N 2 "$EXE" | tr -d ' ')
case $machine in
  8664) WIDTH=win64 BITS=64 OTHER_BITS=32 ;;
  014c) WIDTH=win32 BITS=32 OTHER_BITS=64 ;;
  *) echo "$0: $EXE is not a Windows x64 or x86 program (machine '$machine')" >&2; exit 2 ;;
esac
NAME=dorvana-$VERSION-$WIDTH
mkdir -p "$2"
ZIP=$(cd "$2" && pwd)/$NAME.zip

STAGE=$(mktemp -d /tmp/dorvana-package.XXXXXX)
trap 'rm -rf "$STAGE"' EXIT
DIR=$STAGE/$NAME
crlf() { sed 's/\r*$/\r/'; }  # crlf <IN >OUT

mkdir -p "$DIR"
cp "$EXE" "$DIR/dorvana.exe"
crlf <"$ROOT/deploy/windows/dorvana.def.sample" >"$DIR/dorvana.def.sample"
sed -e "s/@VERSION@/$VERSION/g" -e "s/@WIDTH@/$WIDTH/g" -e "s/@BITS@/$BITS/g" \
  -e "s/@OTHER_BITS@/$OTHER_BITS/g" "$ROOT/deploy/windows/INSTALL.txt" | crlf >"$DIR/INSTALL.txt"
(cd "$ROOT/deploy/iis" && find . -type f) | while read -r file; do
  mkdir -p "$(dirname "$DIR/iis/$file")"
  crlf <"$ROOT/deploy/iis/$file" >"$DIR/iis/$file"
done
(cd "$DIR" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | xargs -d '\n' sha256sum >"$STAGE/sums")
mv "$STAGE/sums" "$DIR/SHA256SUMS"

rm -f "$ZIP"
(cd "$STAGE" && zip -q -X -r "$ZIP" "$NAME")
echo "$ZIP"
