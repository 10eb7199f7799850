#!/usr/bin/env bash
# The web servers' configurations, the package's snippets in deploy/linux/ (which
# scripts/ builds its configurations from) and the code blocks of
# docs/deploy-linux.md, against the program's own limits (scripts/limits --check),
# each file with both a body limit and a timeout so that a renamed directive
# cannot slip by.
set -uo pipefail
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
report=$(awk '/^```/ { inside = !inside; next } inside' "$ROOT/docs/deploy-linux.md" |
  "$ROOT/scripts/limits" --check "$ROOT"/deploy/linux/*/*dorvana-*.conf - 2>&1) || { echo "$report"; exit 1; }
echo "$report"
! grep -E ': 0 body limits|, 0 timeouts' <<<"$report"
