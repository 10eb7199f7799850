#!/usr/bin/env bash
# Serves the program under Apache httpd 2.4 (mod_cgid) on 127.0.0.1 for tests
# and for local use; the same interface as scripts/lighttpd.sh.
#
#   scripts/apache.sh start DIR PORT   start httpd; returns once it answers
#                                      (fails if it does not within 30 s)
#   scripts/apache.sh stop DIR         stop the httpd started over DIR
#
# DIR is the program's working folder: the program is copied into it (from
# $DORVANA_BIN, else build/dorvana), and the settings file (*.def) and the Orders
# archive belong there too. The generated configuration (its own, none of the
# system's), the pid file, the CGI daemon's socket and the error log go to
# DIR/.apache; the document root is the empty folder DIR/.apache/htdocs.
#
# The program answers at /dorvana on 127.0.0.1:PORT, with the path after it as
# path info (/dorvana/soap/... -> /soap/...). httpd runs each request's process
# with DIR as its working directory; started as root, as www-data.
#
# The configuration is the package's snippet deploy/linux/apache/dorvana-*.conf
# with DIR's paths (see web_snippet in weblib.sh), included from a main file of
# the script's own that loads the modules, as Debian's mods-enabled does.
#
# MODE=fastcgi: mod_fcgid (libapache2-mod-fcgid) starts the program with a
# listening socket as its standard input, up to $FCGI_PROCESSES processes
# (default 4), each serving request after request; stopping httpd stops them.
# MODE=cgi (default): mod_cgid, one process per request.
#
# ALLOW="192.168.10.0/24 10.0.5.7": the client networks let in (see weblib.sh;
# default loopback only); anyone else gets 403 and the program never runs.
set -euo pipefail

# shellcheck source=weblib.sh
source "$(dirname "${BASH_SOURCE[0]}")/weblib.sh"

MODULES=/usr/lib/apache2/modules

usage() {
  echo "usage: $0 start DIR PORT | stop DIR" >&2
  exit 2
}

start() {
  local dir port conf httpd pid state out
  # The client networks let in; a malformed list stops here.
  local allowed
  allowed=$(web_allow) || exit 2
  dir=$(mkdir -p "$1" && cd "$1" && pwd)
  port=$2
  httpd=$(web_find apache2 apache2)
  stop "$dir"
  web_prepare "$dir"
  state=$dir/.apache
  mkdir -p "$state/htdocs"
  conf=$state/httpd.conf
  # The terminals' networks (ALLOW), in the allow-list file's syntax.
  echo "Require ip ${allowed//$'\n'/ }" >"$state/allow.conf"
  local modules snippet
  case ${MODE:-cgi} in
    cgi)
      snippet=dorvana-cgi.conf
      modules=cgid
      ;;
    fastcgi)
      [ -f "$MODULES/mod_fcgid.so" ] || { echo "mod_fcgid missing (apt-get install libapache2-mod-fcgid)" >&2; exit 1; }
      snippet=dorvana-fastcgi.conf
      modules=fcgid
      ;;
    *) echo "MODE=$MODE: expected cgi or fastcgi" >&2; exit 2 ;;
  esac
  # The package's snippet, with this folder's paths.
  web_snippet "apache/$snippet" "$dir" "$state" \
    -e "s|^FcgidMaxProcessesPerClass [0-9]*|FcgidMaxProcessesPerClass ${FCGI_PROCESSES:-4}|" >"$state/dorvana.conf"
  # The modules Debian enables, and the mode's.
  web_main apache "$state" "$port" "$state/dorvana.conf" authz_host alias env filter deflate $modules >"$conf"
  if ! out=$("$httpd" -t -f "$conf" 2>&1); then echo "$out" >&2; exit 1; fi
  "$httpd" -f "$conf" -DFOREGROUND </dev/null >>"$state/error.log" 2>&1 &
  pid=$!
  echo "$pid" >"$state/httpd.pid.started"
  if ! web_wait httpd "$pid" "$port" "$state/error.log"; then
    stop "$dir"
    exit 1
  fi
}

stop() {
  local dir
  dir=$(cd "$1" 2>/dev/null && pwd) || return 0
  web_stop_pid "$dir/.apache/httpd.pid.started"
}

case "${1:-}" in
  start) [ $# -eq 3 ] || usage; start "$2" "$3" ;;
  stop) [ $# -eq 2 ] || usage; stop "$2" ;;
  *) usage ;;
esac
