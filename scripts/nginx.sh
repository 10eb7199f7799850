#!/usr/bin/env bash
# Serves the program under nginx on 127.0.0.1 for tests and for local use.
# nginx has no CGI of its own: it passes each request to fcgiwrap over FastCGI,
# and fcgiwrap starts the program. The same interface as scripts/lighttpd.sh.
#
#   scripts/nginx.sh start DIR PORT   start fcgiwrap and nginx; returns once
#                                     nginx answers (fails if not within 30 s)
#   scripts/nginx.sh stop DIR         stop the nginx and fcgiwrap started over DIR
#
# DIR is the program's working folder: the program is copied into it (from
# $DORVANA_BIN, else build/dorvana), and the settings file (*.def) and the Orders
# archive belong there too. The generated configuration, the pid files, the
# error log, nginx's temporary files and fcgiwrap's socket go to DIR/.nginx;
# the document root is the empty folder DIR/.nginx/htdocs.
#
# The program answers at /dorvana on 127.0.0.1:PORT, with the path after it as
# path info (/dorvana/soap/... -> /soap/...). fcgiwrap runs each request's
# process with DIR as its working directory; started as root, nginx's workers
# and fcgiwrap run as www-data.
#
# ALLOW="192.168.10.0/24 10.0.5.7": the client networks let in (see weblib.sh;
# default loopback only); anyone else gets 403 and the program never runs.
#
# The configuration is the package's snippet deploy/linux/nginx/dorvana-*.conf
# with DIR's paths (see web_snippet in weblib.sh), included in the server block
# of a main file of the script's own.
#
# MODE=fastcgi: no fcgiwrap; the script starts the program itself as a FastCGI
# server on a Unix socket (dorvana --fastcgi DIR/.nginx/run/dorvana.sock
# --processes $FCGI_PROCESSES, default 2; mode 0660, the web server's group) in
# DIR, records its pid in DIR/.nginx/dorvana.pid.started and stops it (and its
# children) with nginx. MODE=cgi (default): fcgiwrap, one process
# per request.
set -euo pipefail

# shellcheck source=weblib.sh
source "$(dirname "${BASH_SOURCE[0]}")/weblib.sh"

# Processes fcgiwrap (or the program) keeps ready: the most requests the program
# runs at once.
MODE=${MODE:-cgi}
case $MODE in
  cgi) FCGI_PROCESSES=${FCGI_PROCESSES:-8} ;;
  fastcgi) FCGI_PROCESSES=${FCGI_PROCESSES:-2} ;;
  *) echo "MODE=$MODE: expected cgi or fastcgi" >&2; exit 2 ;;
esac

usage() {
  echo "usage: $0 start DIR PORT | stop DIR" >&2
  exit 2
}

start() {
  local dir port conf nginx fcgiwrap pid state out
  # The client networks let in; a malformed list stops here.
  local allowed
  allowed=$(web_allow) || exit 2
  dir=$(mkdir -p "$1" && cd "$1" && pwd)
  port=$2
  nginx=$(web_find nginx nginx)
  if [ "$MODE" = cgi ]; then fcgiwrap=$(web_find fcgiwrap fcgiwrap); fi
  stop "$dir"
  web_prepare "$dir"
  state=$dir/.nginx
  mkdir -p "$state/htdocs" "$state/tmp" "$state/run"
  local as=()
  if [ -n "$WEB_USER" ]; then
    chown "$WEB_USER" "$state/run"
    as=(setpriv --reuid="$WEB_USER" --regid="$WEB_USER" --init-groups)
  fi
  conf=$state/nginx.conf
  # The terminals' networks (ALLOW), in the allow-list file's syntax.
  local net
  for net in $allowed; do echo "allow $net;"; done >"$state/allow.conf"
  # The package's snippet, with this folder's paths (fcgiwrap's socket or the
  # program's in DIR/.nginx/run).
  web_snippet "nginx/dorvana-$MODE.conf" "$dir" "$state" >"$state/dorvana.conf"
  web_main nginx "$state" "$port" "$state/dorvana.conf" >"$conf"
  if ! out=$("$nginx" -t -q -p "$state" -e "$state/error.log" -c "$conf" 2>&1); then
    echo "$out" >&2
    exit 1
  fi
  local i
  if [ "$MODE" = fastcgi ]; then
    # The program's supervisor leads a process group of its own with its
    # children; on TERM it lets each finish its request, then all leave.
    (cd "$dir" && exec setsid "${as[@]}" "$dir/dorvana" --fastcgi "$state/run/dorvana.sock" \
      ${WEB_USER:+--socket-group "$WEB_USER"} --processes "$FCGI_PROCESSES") </dev/null \
      >>"$state/error.log" 2>&1 &
    echo $! >"$state/dorvana.pid.started"
    for i in $(seq 1 200); do
      [ -S "$state/run/dorvana.sock" ] && break
      sleep 0.05
    done
  else
    # fcgiwrap leads a process group of its own (its preforked children with it),
    # so that stop ends them all.
    (cd "$dir" && exec setsid "${as[@]}" "$fcgiwrap" -c "$FCGI_PROCESSES" \
      -s "unix:$state/run/fcgiwrap.socket") </dev/null >>"$state/error.log" 2>&1 &
    echo $! >"$state/fcgiwrap.pid.started"
    for i in $(seq 1 200); do
      [ -S "$state/run/fcgiwrap.socket" ] && break
      sleep 0.05
    done
  fi
  "$nginx" -p "$state" -e "$state/error.log" -c "$conf" </dev/null >>"$state/error.log" 2>&1 &
  pid=$!
  echo "$pid" >"$state/nginx.pid.started"
  if ! web_wait nginx "$pid" "$port" "$state/error.log"; then
    stop "$dir"
    exit 1
  fi
}

stop() {
  local dir
  dir=$(cd "$1" 2>/dev/null && pwd) || return 0
  web_stop_pid "$dir/.nginx/nginx.pid.started"
  web_stop_pid "$dir/.nginx/fcgiwrap.pid.started" group
  web_stop_pid "$dir/.nginx/dorvana.pid.started" group
  rm -f "$dir/.nginx/run/fcgiwrap.socket"
}

case "${1:-}" in
  start) [ $# -eq 3 ] || usage; start "$2" "$3" ;;
  stop) [ $# -eq 2 ] || usage; stop "$2" ;;
  *) usage ;;
esac
