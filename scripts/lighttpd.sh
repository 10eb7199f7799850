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
# MODE=fastcgi: lighttpd's mod_fastcgi starts the program itself ("bin-path")
# with a listening socket (DIR/.lighttpd/dorvana.sock) as its standard input, in
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
  local dir port conf lighttpd pid user=
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
  if [ -n "$WEB_USER" ]; then
    user="server.username = \"$WEB_USER\"
server.groupname = \"$WEB_USER\""
  fi
  conf=$dir/.lighttpd/lighttpd.conf
  # Denied unless the client is in one of the networks: one condition nested
  # in the other, for each network.
  local net deny="url.access-deny = (\"\")" close=
  for net in $allowed; do
    deny="\$HTTP[\"remoteip\"] != \"$net\" {
$deny"
    close="$close
}"
  done
  local handler
  case ${MODE:-cgi} in
    cgi)
      handler="  alias.url = (\"/dorvana\" => \"$dir/dorvana\")
  cgi.assign = (\"/dorvana\" => \"\")"
      ;;
    fastcgi)
      # The program's processes run in DIR (the folder of bin-path); the path
      # after /dorvana is the path info.
      rm -f "$dir/.lighttpd/dorvana.sock"
      handler="  fastcgi.server = (\"/dorvana\" => ((
    \"socket\" => \"$dir/.lighttpd/dorvana.sock\",
    \"bin-path\" => \"$dir/dorvana\",
    \"max-procs\" => ${FCGI_PROCESSES:-2},
    \"check-local\" => \"disable\",
    \"read-timeout\" => 300,
    \"write-timeout\" => 300
  )))"
      if [ -n "$WEB_USER" ]; then chown "$WEB_USER" "$dir/.lighttpd"; fi
      ;;
    *) echo "MODE=$MODE: expected cgi or fastcgi" >&2; exit 2 ;;
  esac
  cat >"$conf" <<CONF
server.modules = ("mod_access", "mod_alias", "mod_cgi", "mod_fastcgi", "mod_deflate")
server.bind = "127.0.0.1"
server.port = $port
$user
server.document-root = "$dir/.lighttpd/htdocs"
server.errorlog = "$dir/.lighttpd/error.log"
# The program's standard error (one line for every failure it answers with).
server.breakagelog = "$dir/.lighttpd/error.log"
# Request bodies up to 16 MiB (the size is in KiB).
server.max-request-size = 16384
# A request's process may wait long for the database (an order posted twice at
# once waits for the first): give it longer than the request deadline.
cgi.limits = ("read-timeout" => 300, "write-timeout" => 300)
# Only the program's own path, matched whole (after lighttpd has decoded and
# normalised it), runs the program: alias.url alone matches by prefix and would
# map /dorvana.def to the settings file beside the program.
\$HTTP["url"] =~ "^/dorvana(/|\$)" {
$handler
  # The answers (text/xml, text/html, text/plain) go gzip-compressed to a
  # client that asks for it, with "Vary: Accept-Encoding" and a Content-Length
  # of the compressed bytes. A client that does not ask gets the answer as the
  # program wrote it: mod_deflate would add its Vary line there too.
  \$REQUEST_HEADER["Accept-Encoding"] =~ "gzip" {
    deflate.mimetypes = ("text/xml", "text/html", "text/plain")
    deflate.allowed-encodings = ("gzip")
  } else {
    deflate.mimetypes = ()
  }
} else {
  url.access-deny = ("")
}
# The terminals' networks (ALLOW): a client outside them is refused with 403
# before the program is started or asked.
$deny$close
CONF
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
