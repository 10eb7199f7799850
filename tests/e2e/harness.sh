# Helpers for the end-to-end tests, sourced by each tests/e2e/*_test.sh with the
# program's path as $1:
#
#   source "$(dirname "$0")/harness.sh" "$1"
#
#   direct NAME [VAR=value ...] [< body]
#       runs the program with only the given CGI variables (and the body on
#       standard input, if any) in a scratch working folder, and compares its
#       standard output byte for byte with golden/NAME; the exit code must be 0.
#   serve
#       starts the web server named by $WEB (lighttpd, the default, apache or
#       nginx: scripts/$WEB.sh) on a free port over the scratch folder $E2E_DIR;
#       the program is then at $E2E_URL (http://127.0.0.1:PORT/dorvana).
#   fetch NAME CURL-ARGS...
#       sends one request with curl and compares the answer with
#       golden/NAME.$WEB (each server passes the program's answer on in its own
#       way): the status line and headers as received, minus the Date and
#       Server lines, then the empty line and the body, byte for byte. Apache
#       frames the body as the program's output happens to arrive, with a
#       Content-Length of its own or chunked, and closes the connection or not:
#       through it the Content-Length, Transfer-Encoding and Connection lines
#       are left out too.
#   fetch_status NAME CURL-ARGS...
#       as fetch, but compares only the status line (for the web server's own
#       pages, whose text depends on its version).
#   not_served PATH MARKER...
#       asks for PATH exactly as written and expects a 4xx answer carrying
#       none of the markers.
#   check NAME ACTUAL-FILE      compares any file with golden/NAME.
#   finish                      prints the summary and exits 1 if a check failed.
#
# Golden files are kept byte-exact (-text in .gitattributes). To write them anew
# after a deliberate change, run the test with E2E_UPDATE=1 and review the diff.
#
# To add a test: write tests/e2e/NAME_test.sh that sources this file, and add
# dorvana_e2e_web_test(NAME NAME_test.sh) to tests/e2e/CMakeLists.txt (or
# dorvana_e2e_test for a test that needs no web server); it then runs under
# ctest with the label "e2e", once per web server. Servers and folders started
# here are stopped and removed when the script exits.
set -u

E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
E2E_WEB=${WEB:-lighttpd}
case $E2E_WEB in
  lighttpd | apache | nginx) ;;
  *) echo "FAIL WEB=$E2E_WEB: no such web server (lighttpd, apache, nginx)"; exit 1 ;;
esac
E2E_GOLDEN=$E2E_ROOT/tests/e2e/golden
E2E_PROGRAM=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
E2E_DIR=$(mktemp -d /tmp/dorvana-e2e.XXXXXX)
chmod 755 "$E2E_DIR"
E2E_OUT=$(mktemp -d /tmp/dorvana-e2e-out.XXXXXX)
E2E_URL=
E2E_FAILED=0
E2E_PASSED=0
E2E_SERVING=0

e2e_cleanup() {
  if [ "$E2E_SERVING" = 1 ]; then "$E2E_ROOT/scripts/$E2E_WEB.sh" stop "$E2E_DIR" >/dev/null 2>&1 || true; fi
  rm -rf "$E2E_DIR" "$E2E_OUT"
}
trap e2e_cleanup EXIT

check() {
  local name=$1 actual=$2
  if [ "${E2E_UPDATE:-0}" = 1 ]; then
    cp "$actual" "$E2E_GOLDEN/$name"
    echo "updated $name"
    return 0
  fi
  if [ ! -f "$E2E_GOLDEN/$name" ]; then
    echo "FAIL $name: no golden file tests/e2e/golden/$name (run with E2E_UPDATE=1)"
    E2E_FAILED=$((E2E_FAILED + 1))
  elif cmp -s "$E2E_GOLDEN/$name" "$actual"; then
    echo "ok   $name"
    E2E_PASSED=$((E2E_PASSED + 1))
  else
    echo "FAIL $name: differs from tests/e2e/golden/$name"
    diff <(od -c "$E2E_GOLDEN/$name") <(od -c "$actual") | head -20
    E2E_FAILED=$((E2E_FAILED + 1))
  fi
}

direct() {
  local name=$1 rc
  shift
  if [ -t 0 ]; then
    (cd "$E2E_DIR" && env -i "$@" "$E2E_PROGRAM" </dev/null >"$E2E_OUT/$name")
  else
    (cd "$E2E_DIR" && env -i "$@" "$E2E_PROGRAM" >"$E2E_OUT/$name")
  fi
  rc=$?
  if [ "$rc" != 0 ]; then
    echo "FAIL $name: exit code $rc"
    E2E_FAILED=$((E2E_FAILED + 1))
    return 0
  fi
  check "$name" "$E2E_OUT/$name"
}

# shellcheck source=free_port.sh
source "$E2E_ROOT/tests/e2e/free_port.sh"

serve() {
  local port tries
  for tries in 1 2 3; do
    port=$(free_port)
    if DORVANA_BIN=$E2E_PROGRAM "$E2E_ROOT/scripts/$E2E_WEB.sh" start "$E2E_DIR" "$port"; then
      E2E_SERVING=1
      E2E_URL=http://127.0.0.1:$port/dorvana
      E2E_BASE=http://127.0.0.1:$port
      return 0
    fi
  done
  echo "FAIL could not start $E2E_WEB"
  exit 1
}

fetch() {
  local name=$1
  shift
  if ! curl -s -o "$E2E_OUT/$name.body" -D "$E2E_OUT/$name.head" "$@"; then
    echo "FAIL $name: curl failed"
    E2E_FAILED=$((E2E_FAILED + 1))
    return 0
  fi
  local drop='date|server'
  if [ "$E2E_WEB" = apache ]; then drop='date|server|content-length|transfer-encoding|connection'; fi
  grep -a -v -i -E "^($drop):" "$E2E_OUT/$name.head" >"$E2E_OUT/$name"
  cat "$E2E_OUT/$name.body" >>"$E2E_OUT/$name"
  check "$name.$E2E_WEB" "$E2E_OUT/$name"
}

fetch_status() {
  local name=$1
  shift
  if ! curl -s -o /dev/null -D "$E2E_OUT/$name.head" "$@"; then
    echo "FAIL $name: curl failed"
    E2E_FAILED=$((E2E_FAILED + 1))
    return 0
  fi
  head -n 1 "$E2E_OUT/$name.head" >"$E2E_OUT/$name"
  check "$name.$E2E_WEB" "$E2E_OUT/$name"
}

# not_served PATH MARKER...: asks for PATH as sent (curl --path-as-is) and
# fails when the answer is a success or carries any of the marker texts (the
# settings file's, an archived order's, the program file's own bytes).
not_served() {
  local path=$1 code marker
  shift
  code=$(curl -s --path-as-is -o "$E2E_OUT/served.body" -w '%{http_code}' "$E2E_BASE$path") || code=curl-failed
  for marker in "$@"; do
    if grep -a -q -F -- "$marker" "$E2E_OUT/served.body"; then code="$code with '$marker'"; fi
  done
  case $code in
    4[0-9][0-9])
      echo "ok   not served: $path ($code)"
      E2E_PASSED=$((E2E_PASSED + 1)) ;;
    *)
      echo "FAIL served: $path ($code)"
      E2E_FAILED=$((E2E_FAILED + 1)) ;;
  esac
}

finish() {
  echo "$E2E_PASSED passed, $E2E_FAILED failed"
  [ "$E2E_FAILED" = 0 ]
  exit $?
}
