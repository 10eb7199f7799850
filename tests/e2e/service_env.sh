# Set-up shared by the service's end-to-end tests, sourced by them.
#
#   service_env.sh is sourced with the program path in $1. It starts the local
#   Firebird server when none runs, creates a fresh demo database on it (plus the
#   SQL files in $E2E_EXTRA_SQL), and offers helpers to start a web server
#   (the one $WEB names: lighttpd, the default, apache or nginx) over a
#   folder, to query the database from a second connection and to report
#   results.
#   Everything it starts is stopped when the test exits.
set -eu

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
WEB=${WEB:-lighttpd}
case $WEB in
  lighttpd | apache | nginx) ;;
  *) echo "WEB=$WEB: no such web server (lighttpd, apache, nginx)"; exit 1 ;;
esac
PROGRAM=$(cd "$(dirname "$1")" && pwd)/$(basename "$1")
WORK=$(mktemp -d /tmp/dorvana-svc-e2e.XXXXXX)
chmod 755 "$WORK"
mkdir -m 777 "$WORK/db"
DBFILE=$WORK/db/demo.fdb
DB=127.0.0.1:$DBFILE
DB_USER=${DORVANA_DB_USER:-DORVANA}
DB_PASSWORD=${DORVANA_DB_PASSWORD:-dorvana}
SERVERS=()
FAILURES=0

cleanup() {
  local dir
  for dir in "${SERVERS[@]}"; do "$ROOT/scripts/$WEB.sh" stop "$dir" >/dev/null 2>&1 || true; done
  if [ -e "$DBFILE" ]; then
    printf "connect '%s';\ndrop database;\n" "$DB" |
      isql-fb -q -user "$DB_USER" -password "$DB_PASSWORD" >/dev/null 2>&1 || true
  fi
  if [ "$FAILURES" = 0 ]; then rm -rf "$WORK"; else echo "kept $WORK"; fi
}
trap cleanup EXIT

"$ROOT/scripts/fbserver.sh" start >/dev/null
# shellcheck disable=SC2086
"$ROOT/scripts/demo-db.sh" "$DB" ${E2E_EXTRA_SQL:-} >/dev/null

# shellcheck source=free_port.sh
source "$ROOT/tests/e2e/free_port.sh"

# new_site NAME [settings text]: a program folder with the settings file and a
# web server over it; sets URL_<NAME> to the program's address.
new_site() {
  local name=$1 dir=$WORK/$1 port
  mkdir -p "$dir"
  if [ $# -ge 2 ]; then printf '%s' "$2" > "$dir/dorvana.def"; fi
  local tries
  for tries in 1 2 3; do
    port=$(free_port)
    if DORVANA_BIN=$PROGRAM "$ROOT/scripts/$WEB.sh" start "$dir" "$port" >/dev/null; then break; fi
    [ "$tries" = 3 ] && { echo "could not start $WEB for $name"; exit 1; }
  done
  SERVERS+=("$dir")
  eval "URL_$name=http://127.0.0.1:$port/dorvana"
}

settings_for() {  # the settings text that names database $1
  printf 'SERVER NAME=%s\r\nUSER NAME=%s\r\nPASSWORD=%s\r\n' "$1" "$DB_USER" "$DB_PASSWORD"
}

# sql "statement;": runs it on the test database from a second connection and
# prints the bare result lines (UTF-8).
sql() {
  printf "set names UTF8;\nset heading off;\nconnect '%s';\n%s\n" "$DB" "$1" |
    isql-fb -q -user "$DB_USER" -password "$DB_PASSWORD" | sed -e 's/^[[:space:]]*//' -e 's/[[:space:]]*$//' -e 's/  */ /g' -e '/^$/d'
}

# fetch URL [curl args]: body to $WORK/body, headers to $WORK/headers; prints the
# status code.
fetch() {
  local url=$1
  shift
  curl -s -o "$WORK/body" -D "$WORK/headers" -w '%{http_code}' "$@" "$url"
}
header() {  # header NAME: its value in the last response
  grep -i "^$1:" "$WORK/headers" | head -1 | sed -e 's/^[^:]*: *//' -e 's/\r$//'
}

pass() { echo "ok   $1"; }
fail() { echo "FAIL $1"; FAILURES=$((FAILURES + 1)); }
check() {  # check NAME ACTUAL EXPECTED
  if [ "$2" = "$3" ]; then pass "$1"; else fail "$1"; echo "  expected: $(printf '%s' "$3" | od -c | head -20)"; echo "  actual:   $(printf '%s' "$2" | od -c | head -20)"; fi
}
check_file() {  # check_file NAME FILE EXPECTED-FILE
  if cmp -s "$2" "$3"; then pass "$1"; else fail "$1"; diff <(od -c "$3") <(od -c "$2") | head -20; fi
}
finish() {
  if [ "$FAILURES" = 0 ]; then echo "all passed"; exit 0; fi
  echo "$FAILURES failed"; exit 1
}
