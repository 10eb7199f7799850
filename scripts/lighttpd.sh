#!/usr/bin/env bash
# Serves the program under lighttpd on 127.0.0.1 for tests and for local use.
#
#   scripts/lighttpd.sh start DIR PORT   start lighttpd; returns once it answers
#                                        (fails if it does not within 30 s)
#   scripts/lighttpd.sh stop DIR         stop the lighttpd started over DIR
#
# DIR is the program's working folder: the program is copied into it (from
# $DORVANA_BIN, else build/dorvana), and the settings file (*.def) and the Orders
# archive belong there too. The generated configuration, the pid file and the
# error log go to DIR/.lighttpd; the document root is the empty folder
# DIR/.lighttpd/htdocs, so nothing in DIR is ever served as a file.
#
# The program answers at /dorvana on 127.0.0.1:PORT:
#   http://127.0.0.1:PORT/dorvana?q=test
#   http://127.0.0.1:PORT/dorvana/soap/...      (path info /soap/...)
#   http://127.0.0.1:PORT/dorvana/wsdl
# lighttpd runs each request's process with DIR as its working directory.
set -euo pipefail

ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)

usage() {
  echo "usage: $0 start DIR PORT | stop DIR" >&2
  exit 2
}

find_lighttpd() {
  local p
  for p in "$(command -v lighttpd 2>/dev/null || true)" /usr/sbin/lighttpd /usr/local/sbin/lighttpd; do
    if [ -n "$p" ] && [ -x "$p" ]; then echo "$p"; return 0; fi
  done
  echo "lighttpd not found (apt-get install lighttpd)" >&2
  exit 1
}

start() {
  local dir port bin conf lighttpd i pid
  dir=$(mkdir -p "$1" && cd "$1" && pwd)
  port=$2
  bin=${DORVANA_BIN:-$ROOT/build/dorvana}
  [ -x "$bin" ] || { echo "no program at $bin (build it first)" >&2; exit 1; }
  lighttpd=$(find_lighttpd)
  # A server left over from an earlier start over the same folder goes first.
  stop "$dir" >/dev/null 2>&1 || true
  # Replace, not overwrite: a process may still run the old copy.
  cp "$bin" "$dir/dorvana.new" && mv -f "$dir/dorvana.new" "$dir/dorvana"
  chmod 755 "$dir/dorvana"
  mkdir -p "$dir/.lighttpd/htdocs"
  conf=$dir/.lighttpd/lighttpd.conf
  cat >"$conf" <<CONF
server.modules = ("mod_access", "mod_alias", "mod_cgi")
server.bind = "127.0.0.1"
server.port = $port
server.document-root = "$dir/.lighttpd/htdocs"
server.errorlog = "$dir/.lighttpd/error.log"
server.max-request-size = 1048576
# Only the program's own path, matched whole (after lighttpd has decoded and
# normalised it), runs the program: alias.url alone matches by prefix and would
# map /dorvana.def to the settings file beside the program.
\$HTTP["url"] =~ "^/dorvana(/|\$)" {
  alias.url = ("/dorvana" => "$dir/dorvana")
  cgi.assign = ("/dorvana" => "")
} else {
  url.access-deny = ("")
}
CONF
  "$lighttpd" -t -f "$conf" >/dev/null
  # Kept in the foreground as a child of this script, so its pid is known from
  # the start: a server that is slow to answer can always be stopped again.
  "$lighttpd" -D -f "$conf" </dev/null >>"$dir/.lighttpd/error.log" 2>&1 &
  pid=$!
  echo "$pid" >"$dir/.lighttpd/lighttpd.pid"
  for i in $(seq 1 600); do
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "lighttpd ended at start on 127.0.0.1:$port; see $dir/.lighttpd/error.log" >&2
      rm -f "$dir/.lighttpd/lighttpd.pid"
      exit 1
    fi
    if curl -s -o /dev/null "http://127.0.0.1:$port/" 2>/dev/null; then return 0; fi
    sleep 0.05
  done
  echo "lighttpd did not answer on 127.0.0.1:$port; see $dir/.lighttpd/error.log" >&2
  stop "$dir" || true
  exit 1
}

stop() {
  local dir pidfile pid i
  dir=$(cd "$1" 2>/dev/null && pwd) || return 0
  pidfile=$dir/.lighttpd/lighttpd.pid
  [ -s "$pidfile" ] || return 0
  pid=$(cat "$pidfile")
  if kill "$pid" 2>/dev/null; then
    for i in $(seq 1 100); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.05
    done
    kill -KILL "$pid" 2>/dev/null || true
  fi
  rm -f "$pidfile"
}

case "${1:-}" in
  start) [ $# -eq 3 ] || usage; start "$2" "$3" ;;
  stop) [ $# -eq 2 ] || usage; stop "$2" ;;
  *) usage ;;
esac
