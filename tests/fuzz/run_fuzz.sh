#!/bin/sh
# Builds the XML reader's fuzzer with clang and runs it for a bounded time on a
# copy of the committed seed corpus.
# Usage: run_fuzz.sh SOURCE_DIR WORK_DIR [SECONDS]
# Exits 77 (skipped) when no clang with libFuzzer is available.
set -eu
src=$1
work=$2
seconds=${3:-60}

cxx=""
for c in clang++-14 clang++; do
  if command -v "$c" >/dev/null 2>&1; then cxx=$c; break; fi
done
if [ -z "$cxx" ]; then
  echo "fuzz: no clang++ found; skipping"
  exit 77
fi

mkdir -p "$work"
bin="$work/xml_fuzzer"
flags="-std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined -I$src"
if ! $cxx $flags -o "$bin" "$src/tests/fuzz/NativeXmlFuzz.cpp" "$src/xml/NativeXml.cpp" "$src/xml/NativeXmlNode.cpp" \
    "$src"/runtime/*.cpp 2>"$work/build.log"; then
  if grep -q "fuzzer" "$work/build.log" && grep -qi "no such file\|cannot find\|not found" "$work/build.log"; then
    cat "$work/build.log"
    echo "fuzz: $cxx has no libFuzzer runtime (libclang-rt-14-dev); skipping"
    exit 77
  fi
  cat "$work/build.log"
  exit 1
fi

rm -rf "$work/corpus" "$work/artifacts"
mkdir -p "$work/corpus" "$work/artifacts"
cp "$src"/tests/fuzz/corpus/* "$work/corpus/"
exec "$bin" "$work/corpus" -dict="$src/tests/fuzz/xml.dict" \
  -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 \
  -print_final_stats=1 -artifact_prefix="$work/artifacts/"
