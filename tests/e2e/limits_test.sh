#!/usr/bin/env bash
# The web servers' configurations in scripts/ and in the README against the
# program's own limits (scripts/limits reads them from the sources): every body
# limit equals the largest body, every timeout lies above the largest request
# deadline. Any directive naming a timeout counts, so a new one is checked too.
#
#   tests/e2e/limits_test.sh
set -uo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
eval "$("$ROOT/scripts/limits")" || { echo "FAIL the limits are not found in the sources"; exit 1; }
FAILED=0
fail() { echo "FAIL $1"; FAILED=1; }

check() {  # check NAME TEXT: the configuration lines of one file
  local bodies=0 timeouts=0 line value
  # Body limits, each with its unit: lighttpd counts KiB, nginx takes k/m/g.
  while read -r line; do
    [ -n "$line" ] || continue
    if [[ $line =~ max-request-size\ *=\ *([0-9]+) ]]; then
      value=$((BASH_REMATCH[1] * 1024))
    elif [[ $line =~ client_max_body_size\ +([0-9]+)([kKmMgG]?)\; ]]; then
      case ${BASH_REMATCH[2]} in
        k | K) value=$((BASH_REMATCH[1] << 10)) ;;
        m | M) value=$((BASH_REMATCH[1] << 20)) ;;
        g | G) value=$((BASH_REMATCH[1] << 30)) ;;
        *) value=${BASH_REMATCH[1]} ;;
      esac
    elif [[ $line =~ (LimitRequestBody|FcgidMaxRequestLen|\'Content-Length\'\)\ -gt)\ +([0-9]+) ]]; then
      value=${BASH_REMATCH[2]}
    else
      fail "$1: a body limit not understood: $line"
      continue
    fi
    bodies=$((bodies + 1))
    [ "$value" = "$BODY_LIMIT" ] || fail "$1: $line is $value bytes, not $BODY_LIMIT"
  done < <(grep -E 'max-request-size|body_size|RequestBody|RequestLen|Content-Length.\) -gt' <<<"$2")
  # Timeouts: seconds, "300" or "300s".
  while read -r line; do
    [ -n "$line" ] || continue
    timeouts=$((timeouts + 1))
    value=$(grep -oE '[0-9]+s?$' <<<"$line")
    [ "${value%s}" -gt "$MAX_REQUEST_TIMEOUT" ] 2>/dev/null ||
      fail "$1: $line is not above the largest request deadline ($MAX_REQUEST_TIMEOUT s)"
  done < <(grep -oE '[A-Za-z_.-]*[Tt]imeout\\?"?( *=> *| +)[0-9]+s?' <<<"$2")
  [ "$bodies" -gt 0 ] && [ "$timeouts" -gt 0 ] || fail "$1: $bodies body limits, $timeouts timeouts"
}

for script in lighttpd apache nginx; do
  check "scripts/$script.sh" "$(cat "$ROOT/scripts/$script.sh")"
done
# The README's configurations: the lines of its code blocks.
check README.md "$(awk '/^```/ { inside = !inside; next } inside' "$ROOT/README.md")"
[ "$DEFAULT_REQUEST_TIMEOUT" -le "$MAX_REQUEST_TIMEOUT" ] && [ "$CONFLICT_WAIT" -lt "$MAX_REQUEST_TIMEOUT" ] ||
  fail "the default deadline or the conflict wait lies above the largest deadline"

[ "$FAILED" = 0 ] && echo "ok   web server configurations: body limit $BODY_LIMIT, every timeout above $MAX_REQUEST_TIMEOUT s"
exit "$FAILED"
