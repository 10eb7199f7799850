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
# lighttpd runs each request's process with DIR as its working directory;
# started as root, it runs them as www-data (see weblib.sh).
#
# The configuration is the package's snippet deploy/linux/lighttpd/50-dorvana-*.conf
# with DIR's paths (see web_snippet in weblib.sh), included from a main file of
# the script's own.
#
# MODE=fastcgi: lighttpd's mod_fastcgi starts the program itself ("bin-path")
# with a listening socket (DIR/.lighttpd/run/dorvana.sock) as its standard input, in
# $FCGI_PROCESSES processes (default 2), each serving request after request with
# a kept database connection; stopping lighttpd stops them. MODE=cgi (default):
# one process per request.
#
# ALLOW="192.168.10.0/24 10.0.5.7": the client networks let in (see weblib.sh;
# default loopback only); anyone else gets 403 and the program never runs.
set -euo pipefail

# shellcheck source=weblib.sh
source "$(dirname "${BASH_SOURCE[0]}")/weblib.sh"

usage() {
  echo "usage: $0 start DIR PORT | stop DIR" >&2
  exit 2
}

start() {
  local dir port conf lighttpd pid
  # The client networks let in; a malformed list stops here.
  local allowed
  allowed=$(web_allow) || exit 2
  dir=$(mkdir -p "$1" && cd "$1" && pwd)
  port=$2
  lighttpd=$(web_find lighttpd lighttpd)
  # A server left over from an earlier start over the same folder goes first.
  stop "$dir"
  web_prepare "$dir"
  mkdir -p "$dir/.lighttpd/htdocs"
  # lighttpd opens its error log after it has switched to that user.
  touch "$dir/.lighttpd/error.log"
  if [ -n "$WEB_USER" ]; then chown "$WEB_USER" "$dir/.lighttpd/error.log"; fi
  local state=$dir/.lighttpd snippet
  conf=$state/lighttpd.conf
  # The terminals' networks (ALLOW), in the allow-list file's syntax: one
  # condition nested in the other, for each network.
  local net deny="url.access-deny = (\"\")" close=
  for net in $allowed; do
    deny="\$HTTP[\"remoteip\"] != \"$net\" {
$deny"
    close="$close
}"
  done
  printf '%s%s\n' "$deny" "$close" >"$state/allow.conf"
  case ${MODE:-cgi} in
    cgi) snippet=50-dorvana-cgi.conf ;;
    fastcgi)
      snippet=50-dorvana-fastcgi.conf
      # The program's processes run in DIR (the folder of bin-path) and listen
      # on sockets in DIR/.lighttpd/run.
      mkdir -p "$state/run"
      rm -f "$state/run/dorvana.sock"*
      if [ -n "$WEB_USER" ]; then chown "$WEB_USER" "$state/run"; fi
      ;;
    *) echo "MODE=$MODE: expected cgi or fastcgi" >&2; exit 2 ;;
  esac
  # The package's snippet, with this folder's paths.
  web_snippet "lighttpd/$snippet" "$dir" "$state" \
    -e "s|\"max-procs\" => [0-9]*|\"max-procs\" => ${FCGI_PROCESSES:-2}|" >"$state/dorvana.conf"
  web_main lighttpd "$state" "$port" "$state/dorvana.conf" >"$conf"
  "$lighttpd" -tt -f "$conf" >/dev/null
  # Kept in the foreground as a child of this script, so its pid is known from
  # the start: a server that is slow to answer can always be stopped again.
  "$lighttpd" -D -f "$conf" </dev/null >>"$dir/.lighttpd/error.log" 2>&1 &
  pid=$!
  echo "$pid" >"$dir/.lighttpd/lighttpd.pid"
  if ! web_wait lighttpd "$pid" "$port" "$dir/.lighttpd/error.log"; then
    stop "$dir"
    exit 1
  fi
}

stop() {
  local dir
  dir=$(cd "$1" 2>/dev/null && pwd) || return 0
  web_stop_pid "$dir/.lighttpd/lighttpd.pid"
}

case "${1:-}" in
  start) [ $# -eq 3 ] || usage; start "$2" "$3" ;;
  stop) [ $# -eq 2 ] || usage; stop "$2" ;;
  *) usage ;;
esac
