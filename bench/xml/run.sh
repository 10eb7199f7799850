#!/bin/sh
# Builds the XML benchmark in Release into BUILD_DIR (default build-bench-xml beside
# the sources) and runs it; extra arguments go to the benchmark program.
set -eu
root=$(cd "$(dirname "$0")/../.." && pwd)
build=${BUILD_DIR:-$root/build-bench-xml}
cmake -S "$root/bench/xml" -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" -j2 >/dev/null
exec "$build/xml_bench" "$@"
