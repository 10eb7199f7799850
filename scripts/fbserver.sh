#!/usr/bin/env bash
# A Firebird server on 127.0.0.1:3050 for tests and measurements that run several
# processes against one database (every CGI request is a process of its own).
#
#   scripts/fbserver.sh start    make sure a server listens on 127.0.0.1:3050; when
#                                none does, start /usr/sbin/firebird in the
#                                background as user firebird and wait until the port
#                                answers. Then create (idempotently) the account
#                                DORVANA with the password "dorvana".
#   scripts/fbserver.sh stop     stop the server, but only one this script started
#   scripts/fbserver.sh status   say whether the port answers and who started it
#
# The account is created as SYSDBA through isql-fb with the password read at run
# time from /etc/firebird/3.0/SYSDBA.password (FB_SYSDBA_PASSWORD_FILE overrides);
# it is passed to isql-fb in its environment, never on a command line, and never
# printed. Must run as root for start (reading that file, switching user).
#
# The pid of a server started here is kept in $DORVANA_RUN/fbserver.pid
# (DORVANA_RUN defaults to .run/ at the top of the source tree).
#
# Databases through the server: name them "127.0.0.1:/abs/path/x.fdb" and log in
# as DORVANA/dorvana. The server process runs as user firebird, so the folder that
# holds such a database must be reachable and writable by it: create it with
# mode 0777 (mktemp -d gives 0700) below a path every user may enter, e.g.
#   dir=$(mktemp -d /tmp/dorvana-XXXXXX) && chmod 0777 "$dir"
set -euo pipefail

PORT=3050
HOST=127.0.0.1
TOP=$(cd "$(dirname "$0")/.." && pwd)
RUN_DIR=${DORVANA_RUN:-$TOP/.run}
PID_FILE=$RUN_DIR/fbserver.pid
LOG_FILE=$RUN_DIR/fbserver.log
PASSWORD_FILE=${FB_SYSDBA_PASSWORD_FILE:-/etc/firebird/3.0/SYSDBA.password}
SERVER=${FB_SERVER_PROGRAM:-/usr/sbin/firebird}
ISQL=${ISQL:-isql-fb}

port_answers() {
  (exec 3<>"/dev/tcp/$HOST/$PORT") 2>/dev/null
}

our_pid() {
  [ -f "$PID_FILE" ] || return 1
  local pid
  pid=$(cat "$PID_FILE")
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null && echo "$pid"
}

# Runs isql-fb as SYSDBA with the SQL on standard input; $1 fills __DIR__.
isql_as_sysdba() {
  [ -r "$PASSWORD_FILE" ] || { echo "fbserver.sh: cannot read $PASSWORD_FILE" >&2; return 1; }
  (
    # The file sets ISC_USER and ISC_PASSWORD; isql-fb takes them from the
    # environment.
    set -a
    . "$PASSWORD_FILE"
    set +a
    # Placeholders in the SQL: __DIR__ (the first argument), __USER__, __PASSWORD__.
    local dir=$1
    shift
    # Replaced literally: a password may hold characters that are special to gsub.
    DIR="$dir" awk '
      function put(line, key, value,    at) {
        while ((at = index(line, key)) > 0)
          line = substr(line, 1, at - 1) value substr(line, at + length(key))
        return line
      }
      { $0 = put($0, "__DIR__", ENVIRON["DIR"]); $0 = put($0, "__USER__", ENVIRON["ISC_USER"])
        print put($0, "__PASSWORD__", ENVIRON["ISC_PASSWORD"]) }' |
      "$ISQL" -q "$@"
  )
}

ensure_account() {
  local dir
  dir=$(mktemp -d /tmp/dorvana-fbserver-XXXXXX) || return 1
  chmod 0777 "$dir"
  # Users are managed from any attachment; a scratch database serves for one. The
  # right to create databases lives in the security database, which takes no
  # remote attachments: the server reaches it for us. The SQL goes to isql-fb on
  # standard input, so the password never shows on a command line.
  local out rc=0
  out=$(isql_as_sysdba "$dir" <<'EOF' 2>&1
CREATE DATABASE '127.0.0.1/3050:__DIR__/scratch.fdb';
CREATE OR ALTER USER DORVANA PASSWORD 'dorvana';
COMMIT;
SET TERM ^;
EXECUTE BLOCK AS BEGIN
  EXECUTE STATEMENT 'GRANT CREATE DATABASE TO USER DORVANA'
    ON EXTERNAL 'security.db' AS USER '__USER__' PASSWORD '__PASSWORD__';
END^
SET TERM ;^
COMMIT;
DROP DATABASE;
EOF
) || rc=$?
  rm -rf "$dir"
  if [ $rc -ne 0 ] || [ -n "$out" ]; then
    echo "fbserver.sh: could not create the account DORVANA:" >&2
    echo "$out" >&2
    return 1
  fi
}

start() {
  mkdir -p "$RUN_DIR"
  if ! port_answers; then
    [ -x "$SERVER" ] || { echo "fbserver.sh: $SERVER not found" >&2; return 1; }
    # setpriv execs the server itself, so the pid recorded is the server's. It
    # starts in /, which user firebird can always enter (a checkout may be in a
    # home folder closed to others).
    (cd / && exec setsid setpriv --reuid=firebird --regid=firebird --init-groups "$SERVER" \
      </dev/null >>"$LOG_FILE" 2>&1) &
    echo $! >"$PID_FILE"
    local i
    for i in $(seq 1 100); do
      port_answers && break
      if ! our_pid >/dev/null; then
        echo "fbserver.sh: the server exited; see $LOG_FILE" >&2
        rm -f "$PID_FILE"
        return 1
      fi
      sleep 0.1
    done
    port_answers || { echo "fbserver.sh: the server does not answer on $HOST:$PORT" >&2; return 1; }
  fi
  # One at a time on this machine: tests run in parallel (from any checkout) each
  # start the server, and two changes of one account at once fail with "modify
  # record error".
  (
    flock 9
    ensure_account
  ) 9>/tmp/dorvana-fbserver-account.lock
}

stop() {
  local pid
  if ! pid=$(our_pid); then
    rm -f "$PID_FILE"
    echo "fbserver.sh: no server started by this script is running"
    return 0
  fi
  kill -TERM "$pid"
  local i
  for i in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$pid" 2>/dev/null; then
    kill -KILL "$pid"
  fi
  rm -f "$PID_FILE"
}

status() {
  local pid
  if port_answers; then
    if pid=$(our_pid); then
      echo "running on $HOST:$PORT (started by this script, pid $pid)"
    else
      echo "running on $HOST:$PORT (not started by this script)"
    fi
    return 0
  fi
  echo "not running"
  return 3
}

case "${1:-}" in
  start) start ;;
  stop) stop ;;
  status) status ;;
  *)
    echo "usage: $0 start|stop|status" >&2
    exit 2
    ;;
esac
