#!/usr/bin/env bash
# Makes the Windows package OUT-DIR/dorvana-VERSION-win64.zip from a built
# dorvana.exe (scripts/build-windows --package runs it into dist/):
#
#   deploy/windows/package.sh EXE OUT-DIR
#
# The zip holds one folder, dorvana-VERSION-win64, with the program, the sample
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
NAME=dorvana-$VERSION-win64
mkdir -p "$2"
ZIP=$(cd "$2" && pwd)/$NAME.zip

STAGE=$(mktemp -d /tmp/dorvana-package.XXXXXX)
trap 'rm -rf "$STAGE"' EXIT
DIR=$STAGE/$NAME
crlf() { sed 's/\r*$/\r/'; }  # crlf <IN >OUT

mkdir -p "$DIR"
cp "$EXE" "$DIR/dorvana.exe"
crlf <"$ROOT/deploy/windows/dorvana.def.sample" >"$DIR/dorvana.def.sample"
sed "s/@VERSION@/$VERSION/" "$ROOT/deploy/windows/INSTALL.txt" | crlf >"$DIR/INSTALL.txt"
(cd "$ROOT/deploy/iis" && find . -type f) | while read -r file; do
  mkdir -p "$(dirname "$DIR/iis/$file")"
  crlf <"$ROOT/deploy/iis/$file" >"$DIR/iis/$file"
done
(cd "$DIR" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | xargs -d '\n' sha256sum >"$STAGE/sums")
mv "$STAGE/sums" "$DIR/SHA256SUMS"

rm -f "$ZIP"
(cd "$STAGE" && zip -q -X -r "$ZIP" "$NAME")
echo "$ZIP"
