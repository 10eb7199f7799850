# Set-up shared by the service's end-to-end tests, sourced by them with the
# program path in $1, on top of the helpers of harness.sh (check, fetch, header,
# finish...: see there).
#
#   It starts the local Firebird server when none runs, creates a fresh demo
#   database on it (plus the SQL files in $E2E_EXTRA_SQL) in $WORK/db, and
#   offers new_site (a program folder and a web server over it) and sql (a
#   query from a second connection). The database is dropped when the test
#   exits; $WORK is removed unless a check failed.
set -eu

# shellcheck source=harness.sh
source "$(dirname "${BASH_SOURCE[0]}")/harness.sh" "$1"

WORK=$(mktemp -d /tmp/dorvana-svc-e2e.XXXXXX)
chmod 755 "$WORK"
mkdir -m 777 "$WORK/db"
DBFILE=$WORK/db/demo.fdb
DB=127.0.0.1:$DBFILE
DB_USER=${DORVANA_DB_USER:-DORVANA}
DB_PASSWORD=${DORVANA_DB_PASSWORD:-dorvana}

service_cleanup() {
  if [ -e "$DBFILE" ]; then
    printf "connect '%s';\ndrop database;\n" "$DB" |
      isql-fb -q -user "$DB_USER" -password "$DB_PASSWORD" >/dev/null 2>&1 || true
  fi
  if [ "$E2E_FAILED" = 0 ]; then rm -rf "$WORK"; else echo "kept $WORK"; fi
}
e2e_at_exit service_cleanup

"$E2E_ROOT/scripts/fbserver.sh" start >/dev/null
# shellcheck disable=SC2086
"$E2E_ROOT/scripts/demo-db.sh" "$DB" ${E2E_EXTRA_SQL:-} >/dev/null

# new_site NAME [settings text]: a program folder with the settings file and a
# web server over it; sets URL_<NAME> to the program's address.
new_site() {
  local name=$1 dir=$WORK/$1 port
  mkdir -p "$dir"
  if [ $# -ge 2 ]; then printf '%s' "$2" > "$dir/dorvana.def"; fi
  # Not in a command substitution: start_web records the server to stop.
  start_web "$dir" >"$E2E_OUT/port" || { echo "could not start $WEB for $name"; exit 1; }
  port=$(cat "$E2E_OUT/port")
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

# What the database holds of order GUID: its header rows (imported), its food
# rows (rows_of) and the orders the import procedure placed from it (placed).
imported() { sql "select count(*) from Restaurant_ImportedOrders where guid = '$1';"; }
rows_of() { sql "select count(*) from Restaurant_ImportedOrderRows where guidOrder = '$1';"; }
placed() { sql "select count(*) from RESTAURANT_ORDERS where ImportedGuid = '$1';"; }

# A TCP relay to the Firebird server that a test cuts (relay_stop: the relay and
# every connection it carries) and brings back (relay_start), never touching the
# shared server: name the database "127.0.0.1/$RELAY_PORT:FILE".
RELAY_PORT=$(free_port)
RELAY=
relay_start() {
  command -v socat >/dev/null || { echo "socat is not installed"; exit 1; }
  setsid socat "TCP-LISTEN:$RELAY_PORT,bind=127.0.0.1,reuseaddr,fork" TCP:127.0.0.1:3050 &
  RELAY=$!
  wait_for 5 listening 127.0.0.1 "$RELAY_PORT" || { echo "the relay did not start"; exit 1; }
}
relay_stop() {
  if [ -n "$RELAY" ]; then kill -TERM -- "-$RELAY" 2>/dev/null || true; wait "$RELAY" 2>/dev/null || true; fi
  RELAY=
}
e2e_at_exit relay_stop
