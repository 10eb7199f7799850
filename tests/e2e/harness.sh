# The one set of helpers for the end-to-end tests, sourced by each
# tests/e2e/*_test.sh (directly, or through service_env.sh for the tests that
# need a database) with the program's path as $1:
#
#   source "$(dirname "$0")/harness.sh" "$1"
#
# Reporting (every check counts towards the summary of finish):
#   pass NAME / fail NAME       one result, reported as is.
#   check NAME ACTUAL EXPECTED  compares two values.
#   check_file NAME FILE EXPECTED-FILE
#                               compares two files byte for byte.
#   check_golden NAME FILE      compares a file with golden/NAME.
#   finish                      prints the summary and exits 1 if a check failed.
#
# Waiting (never a fixed sleep before a check):
#   wait_for SECONDS COMMAND... runs COMMAND every 0.05 s until it succeeds;
#                               fails (status 1) when SECONDS pass first.
#   listening HOST PORT         succeeds when HOST:PORT accepts a connection.
#   silent_listener_start PORT / silent_listener_stop
#                               a host that accepts connections and never
#                               answers (free_port.sh; stopped at the exit).
#
# Running the program:
#   direct NAME [VAR=value ...] [< body]
#       runs the program with only the given CGI variables (and the body on
#       standard input, if any) in the scratch working folder $E2E_DIR, and
#       compares its standard output with golden/NAME; the exit code must be 0.
#   start_web DIR
#       starts the web server named by $WEB (lighttpd, the default, apache or
#       nginx: scripts/$WEB.sh) over the program folder DIR on a free port and
#       prints the port; the server is stopped when the test exits.
#   serve
#       start_web over $E2E_DIR; the program is then at $E2E_URL
#       (http://127.0.0.1:PORT/dorvana), the server at $E2E_BASE.
#
# Asking through the web server:
#   fetch URL [CURL-ARGS...]
#       sends one request and prints the status code; the body is in
#       $E2E_OUT/body, the headers in $E2E_OUT/headers.
#   header FIELD [NAME]
#       the value of a header line of the last fetch (or of fetch_golden NAME).
#   fetch_golden NAME CURL-ARGS...
#       sends one request and compares the answer with golden/NAME.$WEB (each
#       server passes the program's answer on in its own way): the status line
#       and headers as received, minus the Date and Server lines, then the empty
#       line and the body, byte for byte. Apache frames the body as the
#       program's output happens to arrive, with a Content-Length of its own or
#       chunked, and closes the connection or not: through it the
#       Content-Length, Transfer-Encoding and Connection lines are left out too.
#       With MODE=fastcgi golden/NAME.$WEB-fastcgi is used where it exists (an
#       answer the web server frames otherwise), else the CGI one: the same bytes.
#   fetch_status NAME CURL-ARGS...
#       as fetch_golden, but compares only the status line (for the web server's
#       own pages, whose text depends on its version).
#   not_served PATH MARKER...
#       asks for PATH exactly as written and expects a 4xx answer carrying none
#       of the markers.
#
# Golden files are kept byte-exact (-text in .gitattributes). To write them anew
# after a deliberate change, run the test with E2E_UPDATE=1 and review the diff.
#
# To add a test: write tests/e2e/NAME_test.sh that sources this file (or
# service_env.sh), and add dorvana_e2e_web_test(NAME NAME_test.sh) to
# tests/e2e/CMakeLists.txt (or dorvana_e2e_test for a test that needs no web
# server); it then runs under ctest with the label "e2e", once per web server.
# Servers and folders started here are stopped and removed when the script exits
# (a test that starts more adds its own step with e2e_at_exit).
set -u

E2E_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WEB=${WEB:-lighttpd}
# MODE=fastcgi: the web server runs the program as a FastCGI server (see
# scripts/$WEB.sh); cgi (the default): one process per request.
MODE=${MODE:-cgi}
export MODE
case $MODE in
  cgi | fastcgi) ;;
  *) echo "FAIL MODE=$MODE: expected cgi or fastcgi"; exit 1 ;;
esac
case $WEB in
  lighttpd | apache | nginx) ;;
  *) echo "FAIL WEB=$WEB: no such web server (lighttpd, apache, nginx)"; exit 1 ;;
esac
E2E_GOLDEN=$E2E_ROOT/tests/e2e/golden
E2E_PROGRAM=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
E2E_URL=
E2E_BASE=
E2E_FAILED=0
E2E_PASSED=0
E2E_SERVED=()
E2E_AT_EXIT=()

# e2e_at_exit COMMAND: runs COMMAND (one word: a function) when the test exits,
# after the web servers stopped; the last added runs first.
e2e_at_exit() { E2E_AT_EXIT=("$1" "${E2E_AT_EXIT[@]}"); }

e2e_cleanup() {
  local step dir
  # Each entry is "SERVER DIR": a test may start sites under several servers.
  for dir in "${E2E_SERVED[@]}"; do
    "$E2E_ROOT/scripts/${dir%% *}.sh" stop "${dir#* }" >/dev/null 2>&1 || true
  done
  for step in "${E2E_AT_EXIT[@]}"; do "$step" || true; done
  rm -rf "$E2E_DIR" "$E2E_OUT"
}
E2E_DIR=
E2E_OUT=
trap e2e_cleanup EXIT
E2E_DIR=$(mktemp -d /tmp/dorvana-e2e.XXXXXX)
chmod 755 "$E2E_DIR"
E2E_OUT=$(mktemp -d /tmp/dorvana-e2e-out.XXXXXX)

pass() {
  echo "ok   $1"
  E2E_PASSED=$((E2E_PASSED + 1))
}
fail() {
  echo "FAIL $1"
  E2E_FAILED=$((E2E_FAILED + 1))
}

check() {  # check NAME ACTUAL EXPECTED
  if [ "$2" = "$3" ]; then
    pass "$1"
  else
    fail "$1"
    echo "  expected: $(printf '%s' "$3" | od -c | head -20)"
    echo "  actual:   $(printf '%s' "$2" | od -c | head -20)"
  fi
}

check_file() {  # check_file NAME FILE EXPECTED-FILE
  if cmp -s "$2" "$3"; then
    pass "$1"
  else
    fail "$1"
    diff <(od -c "$3") <(od -c "$2") | head -20
  fi
}

check_golden() {  # check_golden NAME FILE
  local name=$1 actual=$2
  if [ "${E2E_UPDATE:-0}" = 1 ]; then
    cp "$actual" "$E2E_GOLDEN/$name"
    echo "updated $name"
  elif [ ! -f "$E2E_GOLDEN/$name" ]; then
    fail "$name: no golden file tests/e2e/golden/$name (run with E2E_UPDATE=1)"
  else
    check_file "$name" "$actual" "$E2E_GOLDEN/$name"
  fi
}

finish() {
  echo "$E2E_PASSED passed, $E2E_FAILED failed"
  if [ "$E2E_FAILED" = 0 ]; then exit 0; fi
  exit 1
}

wait_for() {  # wait_for SECONDS COMMAND...
  local end=$((SECONDS + $1))
  shift
  until "$@"; do
    [ "$SECONDS" -lt "$end" ] || return 1
    sleep 0.05
  done
}

direct() {
  local name=$1 rc=0
  shift
  if [ -t 0 ]; then
    (cd "$E2E_DIR" && env -i "$@" "$E2E_PROGRAM" </dev/null >"$E2E_OUT/$name") || rc=$?
  else
    (cd "$E2E_DIR" && env -i "$@" "$E2E_PROGRAM" >"$E2E_OUT/$name") || rc=$?
  fi
  if [ "$rc" != 0 ]; then
    fail "$name: exit code $rc"
    return 0
  fi
  check_golden "$name" "$E2E_OUT/$name"
}

# shellcheck source=free_port.sh
source "$E2E_ROOT/tests/e2e/free_port.sh"
e2e_at_exit silent_listener_stop

start_web() {  # start_web DIR: prints the port
  local dir=$1 port tries
  for tries in 1 2 3; do
    port=$(free_port)
    if DORVANA_BIN=$E2E_PROGRAM "$E2E_ROOT/scripts/$WEB.sh" start "$dir" "$port" >/dev/null; then
      E2E_SERVED+=("$WEB $dir")
      echo "$port"
      return 0
    fi
  done
  echo "could not start $WEB over $dir" >&2
  return 1
}

serve() {
  local port
  # Not in a command substitution: start_web records the server to stop.
  start_web "$E2E_DIR" >"$E2E_OUT/port" || { fail "could not start $WEB"; finish; }
  port=$(cat "$E2E_OUT/port")
  E2E_URL=http://127.0.0.1:$port/dorvana
  E2E_BASE=http://127.0.0.1:$port
}

fetch() {  # fetch URL [CURL-ARGS...]: prints the status code
  local url=$1
  shift
  curl -s -o "$E2E_OUT/body" -D "$E2E_OUT/headers" -w '%{http_code}' "$@" "$url"
}

header() {  # header FIELD [NAME]
  local file=$E2E_OUT/headers
  if [ $# -ge 2 ]; then file=$E2E_OUT/$2.head; fi
  grep -i "^$1:" "$file" | head -1 | sed -e 's/^[^:]*: *//' -e 's/\r$//'
}

fetch_golden() {
  local name=$1
  shift
  if ! curl -s -o "$E2E_OUT/$name.body" -D "$E2E_OUT/$name.head" "$@"; then
    fail "$name: curl failed"
    return 0
  fi
  local drop='date|server'
  if [ "$WEB" = apache ]; then drop='date|server|content-length|transfer-encoding|connection'; fi
  grep -a -v -i -E "^($drop):" "$E2E_OUT/$name.head" >"$E2E_OUT/$name"
  cat "$E2E_OUT/$name.body" >>"$E2E_OUT/$name"
  check_golden "$(golden_name "$name")" "$E2E_OUT/$name"
}

# The golden file of an answer through the web server in this MODE.
golden_name() {
  if [ "$MODE" = fastcgi ] && [ -f "$E2E_GOLDEN/$1.$WEB-fastcgi" ]; then
    echo "$1.$WEB-fastcgi"
  else
    echo "$1.$WEB"
  fi
}

fetch_status() {
  local name=$1
  shift
  if ! curl -s -o /dev/null -D "$E2E_OUT/$name.head" "$@"; then
    fail "$name: curl failed"
    return 0
  fi
  head -n 1 "$E2E_OUT/$name.head" >"$E2E_OUT/$name"
  check_golden "$(golden_name "$name")" "$E2E_OUT/$name"
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
    4[0-9][0-9]) pass "not served: $path ($code)" ;;
    *) fail "served: $path ($code)" ;;
  esac
}
