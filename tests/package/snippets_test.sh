#!/usr/bin/env bash
# The installed web server snippets, each in a server of the test's own: for
# lighttpd, Apache and nginx, as CGI and as FastCGI, a server on a free port of
# 127.0.0.1 (its own main file that includes the installed snippet; pid, logs
# and temporary files in a temporary folder) serves q=test, a list and an order
# through the installed program from a database the test makes; compresses for
# a client that asks and only for it; refuses the settings file by every
# spelling; and answers 403 to a client outside the allow-list. nginx's snippet
# is also served over TLS with a certificate the test makes.
#
#   tests/package/snippets_test.sh
#       the installed package's files (as root): /var/lib/dorvana/dorvana, the
#       snippets and allow-lists where deploy/linux/FILES puts them. The
#       settings file, the allow-lists and the archive are put back as found.
#   tests/package/snippets_test.sh --staged PROGRAM
#       the source tree's snippets and PROGRAM, staged into a temporary root
#       (their paths rewritten into it) and removed after: nothing outside it
#       is touched.
#
# nginx as FastCGI needs the program on $DORVANA_FASTCGI_SOCKET (default
# /run/dorvana.sock), nginx as CGI fcgiwrap on $DORVANA_FCGIWRAP_SOCKET (default
# /run/fcgiwrap.socket): when nothing listens there, the test starts one itself
# (as www-data, in the program's folder) and stops it after.
# Exits 0 when every check passed, else 1, with a line for each failure.
set -u
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
ROOT=$(cd "$HERE/../.." && pwd)

P=
if [ "${1:-}" = --staged ]; then
  [ $# = 2 ] && [ -x "$2" ] || { echo "usage: $0 [--staged PROGRAM]" >&2; exit 2; }
  P=$(mktemp -d /tmp/dorvana-staged.XXXXXX)
  chmod 755 "$P"
  # The package's layout under $P, every path in the snippets moved into it.
  while read -r src dest mode; do
    [ -n "$src" ] || continue
    mkdir -p "$(dirname "$P$dest")"
    sed -e "s|/var/lib/dorvana|$P/var/lib/dorvana|g" -e "s|/etc/dorvana|$P/etc/dorvana|g" \
      -e "s|/run/|$P/run/|g" -e "s|/var/log/lighttpd|$P/var/log/lighttpd|g" \
      "$ROOT/deploy/linux/$src" >"$P$dest"
    chmod "$mode" "$P$dest"
  done <"$ROOT/deploy/linux/FILES"
  mkdir -p "$P/var/lib/dorvana/Orders" "$P/run/lighttpd" "$P/var/log/lighttpd"
  cp "$2" "$P/var/lib/dorvana/dorvana"
  if [ "$(id -u)" = 0 ]; then chown www-data "$P/var/lib/dorvana/Orders" "$P/run/lighttpd" "$P/var/log/lighttpd"; fi
  DORVANA_FASTCGI_SOCKET=$P/run/dorvana.sock
  DORVANA_FCGIWRAP_SOCKET=$P/run/fcgiwrap.socket
elif [ $# != 0 ]; then
  echo "usage: $0 [--staged PROGRAM]" >&2
  exit 2
elif [ "$(id -u)" != 0 ]; then
  echo "FAIL run as root: the installed files are root's" >&2
  exit 1
fi
HOME_DIR=$P/var/lib/dorvana
PROGRAM=$HOME_DIR/dorvana
SOCKET=${DORVANA_FASTCGI_SOCKET:-/run/dorvana.sock}
FCGIWRAP_SOCKET=${DORVANA_FCGIWRAP_SOCKET:-/run/fcgiwrap.socket}
missing=
while read -r src dest mode; do
  [ -f "$P$dest" ] || missing="$missing $P$dest"
done <"$ROOT/deploy/linux/FILES"
[ -x "$PROGRAM" ] || missing="$missing $PROGRAM"
if [ -n "$missing" ]; then
  echo "FAIL not installed:$missing"
  [ -z "$P" ] || rm -rf "$P"
  exit 1
fi

# check, fetch, not_served, finish...; the database; WEB_USER, web_stop_pid.
source "$ROOT/tests/e2e/service_env.sh" "$PROGRAM"
set +e
source "$ROOT/scripts/weblib.sh"
AS=()
if [ -n "$WEB_USER" ]; then AS=(setpriv --reuid="$WEB_USER" --regid="$WEB_USER" --init-groups); fi

# What the test changes, put back at the exit (after the servers stopped).
mkdir -p "$WORK/saved"
saved() { printf '%s' "$WORK/saved/${1//\//_}"; }
keep() {  # keep FILE: FILE as it is now comes back at the exit (or goes again)
  if [ -e "$1" ]; then cp -p "$1" "$(saved "$1")"; else : >"$(saved "$1").absent"; fi
  KEPT+=("$1")
}
made() {  # made PATH: PATH, if it is not there now, goes at the exit
  if [ ! -e "$1" ]; then : >"$(saved "$1").absent"; KEPT+=("$1"); fi
}
KEPT=()
STARTED=()
ORDERS_BEFORE=$(ls -A "$HOME_DIR/Orders" 2>/dev/null)
put_back() {
  local pidfile f
  for pidfile in "${STARTED[@]}"; do web_stop_pid "$pidfile" group; done
  for f in "${KEPT[@]}"; do
    if [ -e "$(saved "$f").absent" ]; then rm -rf "$f"; else cp -p "$(saved "$f")" "$f"; fi
  done
  # The archive copies of the test's orders.
  for f in "$HOME_DIR"/Orders/*; do
    [ -e "$f" ] || continue
    grep -qxF "$(basename "$f")" <<<"$ORDERS_BEFORE" || rm -f "$f"
  done
  if [ -n "$P" ]; then rm -rf "$P"; fi
}
e2e_at_exit put_back

keep "$HOME_DIR/dorvana.def"
settings_for "$DB" >"$HOME_DIR/dorvana.def"
if [ -n "$WEB_USER" ]; then chgrp "$WEB_USER" "$HOME_DIR/dorvana.def"; fi
chmod 0640 "$HOME_DIR/dorvana.def"
# lighttpd's own folders, as its package makes them at boot.
for f in "$P/run/lighttpd" "$P/var/log/lighttpd/dorvana.log"; do made "$f"; done
mkdir -p "$P/run/lighttpd"
if [ -n "$WEB_USER" ]; then chown "$WEB_USER" "$P/run/lighttpd" "$P/var/log/lighttpd"; fi

# serve_unix SOCKET NAME COMMAND...: unless a process listens on SOCKET, makes
# it a listening socket (mode 0660, the web server's group) and runs COMMAND
# with it as standard input, as the web server's user, in the program's folder.
serve_unix() {
  local socket=$1 name=$2
  shift 2
  if python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).connect(sys.argv[1])' "$socket" 2>/dev/null; then
    return 0
  fi
  made "$socket"
  rm -f "$socket"
  (cd "$HOME_DIR" && exec setsid python3 -c '
import grp, os, socket, sys
s = socket.socket(socket.AF_UNIX)
s.bind(sys.argv[1])
if os.getuid() == 0:
    os.chown(sys.argv[1], 0, grp.getgrnam("www-data").gr_gid)
os.chmod(sys.argv[1], 0o660)
s.listen(64)
os.dup2(s.fileno(), 0)
os.execvp(sys.argv[2], sys.argv[2:])
' "$socket" "${AS[@]}" "$@") </dev/null >>"$WORK/$name.log" 2>&1 &
  echo $! >"$WORK/$name.pid"
  STARTED+=("$WORK/$name.pid")
  wait_for 10 test -S "$socket" || fail "$name did not listen on $socket"
}

# main_conf SERVER MODE DIR PORT SNIPPET: the server's own main file in DIR,
# which includes SNIPPET; prints its path.
main_conf() {
  local server=$1 dir=$3 port=$4 snippet=$5 m=/usr/lib/apache2/modules
  case $server in
    lighttpd)
      {
        echo 'server.modules = ("mod_access")'
        echo "server.bind = \"127.0.0.1\""
        echo "server.port = $port"
        [ -z "$WEB_USER" ] || printf 'server.username = "%s"\nserver.groupname = "%s"\n' "$WEB_USER" "$WEB_USER"
        echo "server.document-root = \"$dir/htdocs\""
        echo "server.errorlog = \"$dir/error.log\""
        echo "include \"$snippet\""
      } >"$dir/lighttpd.conf"
      echo "$dir/lighttpd.conf" ;;
    apache)
      # The modules Debian enables by default; the snippet loads the rest.
      {
        printf 'ServerRoot "%s"\nDefaultRuntimeDir "%s"\nPidFile "%s/httpd.pid"\n' "$dir" "$dir" "$dir"
        printf 'ErrorLog "%s/error.log"\nListen 127.0.0.1:%s\nServerName 127.0.0.1\n' "$dir" "$port"
        [ -z "$WEB_USER" ] || printf 'User %s\nGroup %s\n' "$WEB_USER" "$WEB_USER"
        for mod in mpm_event authz_core alias; do echo "LoadModule ${mod}_module $m/mod_$mod.so"; done
        if [ "$2" = fastcgi ]; then
          mkdir -p "$dir/fcgid"
          [ -z "$WEB_USER" ] || chown "$WEB_USER" "$dir/fcgid"
          printf 'LoadModule fcgid_module %s/mod_fcgid.so\nFcgidIPCDir "%s/fcgid"\nFcgidProcessTableFile "%s/fcgid/shm"\n' "$m" "$dir" "$dir"
        fi
        printf 'DocumentRoot "%s/htdocs"\n<Directory />\n  Require all denied\n</Directory>\n' "$dir"
        echo "Include \"$snippet\""
      } >"$dir/httpd.conf"
      echo "$dir/httpd.conf" ;;
    nginx)
      {
        [ -z "$WEB_USER" ] || echo "user $WEB_USER;"
        printf 'daemon off;\npid %s/nginx.pid;\nerror_log %s/error.log;\nworker_processes 1;\n' "$dir" "$dir"
        printf 'events { worker_connections 64; }\nhttp {\n  access_log off;\n'
        for t in client_body fastcgi proxy uwsgi scgi; do echo "  ${t}_temp_path $dir/tmp/$t;"; done
        printf '  server {\n    listen 127.0.0.1:%s;\n    root %s/htdocs;\n    include %s;\n  }\n}\n' "$port" "$dir" "$snippet"
      } >"$dir/nginx.conf"
      echo "$dir/nginx.conf" ;;
  esac
}

# start SERVER MODE SNIPPET: a server of the test's own over SNIPPET on a free
# port; sets BASE (its address) and RUN (its folder). Fails when it does not
# answer.
start() {
  local server=$1 mode=$2 snippet=$3 port conf cmd
  RUN=$WORK/$server-$mode-$RANDOM
  mkdir -p "$RUN/htdocs" "$RUN/tmp"
  touch "$RUN/error.log"
  [ -z "$WEB_USER" ] || chown "$WEB_USER" "$RUN/error.log"
  port=$(free_port)
  conf=$(main_conf "$server" "$mode" "$RUN" "$port" "$snippet")
  case $server in
    lighttpd) cmd=(lighttpd -D -f "$conf") ;;
    apache) cmd=(apache2 -d "$RUN" -f "$conf" -DFOREGROUND) ;;
    nginx) cmd=(nginx -p "$RUN" -e "$RUN/error.log" -c "$conf") ;;
  esac
  setsid "${cmd[@]}" </dev/null >>"$RUN/error.log" 2>&1 &
  echo $! >"$RUN/server.pid"
  STARTED+=("$RUN/server.pid")
  BASE=http://127.0.0.1:$port
  E2E_BASE=$BASE
  if ! web_wait "$server" "$(cat "$RUN/server.pid")" "$port" "$RUN/error.log" 2>/dev/null; then
    fail "$server $mode: did not start over $snippet: $(tail -n 3 "$RUN/error.log" | tr '\n' ' ')"
    return 1
  fi
}
stop() { web_stop_pid "$RUN/server.pid" group; }

# allow_only ADDRESS SERVER: the server's allow-list file naming ADDRESS only.
allow_only() {
  case $2 in
    lighttpd) printf '$HTTP["remoteip"] != "%s" {\n  url.access-deny = ("")\n}\n' "$1" ;;
    apache) echo "Require ip $1" ;;
    nginx) echo "allow $1;" ;;
  esac >"$P/etc/dorvana/$2-allow.conf"
}

order_doc() {
  printf "<?xml version='1.0' encoding='windows-1251'?>\n<ORDER>\n<GUID>%s</GUID>\n<DEVICEID>HALL-1</DEVICEID>\n" "$1"
  printf '<PIN>1001</PIN>\n<TABLE>4</TABLE>\n<FOODS>\n<food>301<count>2</count><weight>0</weight><isModificator>no</isModificator></food>\n</FOODS>\n</ORDER>\n'
}

# served SERVER MODE: what a terminal asks, through the server at $BASE.
served() {
  local at="$1 $2" url=$BASE/dorvana guid="snippet-$1-$2" path
  check "$at: q=test" "$(fetch "$url?q=test&a=1") $(head -c 7 "$E2E_OUT/body")" "200 type: 1"
  # The menu, long enough to be compressed: plain, then for a client that asks.
  check "$at: menu" "$(fetch "$url?q=getsprfood&user=1002&device=HALL-1") $(header Content-Type)" "200 text/xml"
  xmllint --noout "$E2E_OUT/body" 2>/dev/null && grep -q '<food>' "$E2E_OUT/body" && pass "$at: menu well-formed" ||
    fail "$at: menu well-formed"
  cp "$E2E_OUT/body" "$E2E_OUT/plain"
  check "$at: plain without Content-Encoding or Vary" "$(header Content-Encoding)$(header Vary)" ""
  fetch "$url?q=getsprfood&user=1002&device=HALL-1" -H 'Accept-Encoding: gzip' >/dev/null
  check "$at: gzip with Vary" "$(header Content-Encoding) $(header Vary)" "gzip Accept-Encoding"
  gunzip -c <"$E2E_OUT/body" >"$E2E_OUT/gunzipped" 2>/dev/null
  check_file "$at: gzip decompresses to the plain bytes" "$E2E_OUT/gunzipped" "$E2E_OUT/plain"
  order_doc "$guid" >"$WORK/order.xml"
  check "$at: order" "$(fetch "$url?q=addorder" --data-binary "@$WORK/order.xml") $(cat "$E2E_OUT/body")" "200 ok"
  check "$at: order imported" "$(imported "$guid")" 1
  for path in /dorvana.def /DORVANA.DEF /Dorvana.def /dorvana%2edef /dorvana%2Edef /dorvana.d%65f \
    /dorvana.def. /dorvana.def%20 /dorvana.def/ //dorvana.def /./dorvana.def /dorvana/../dorvana.def \
    /x/../dorvana.def /dorvana.def%00 /Orders/; do
    not_served "$path" "PASSWORD=" "$DBFILE"
  done
}

# refused SERVER MODE SNIPPET: a client outside the allow-list gets 403, and
# its order goes nowhere.
refused() {
  local at="$1 $2" guid="outside-$1-$2"
  allow_only 127.0.0.2/32 "$1"
  start "$1" "$2" "$3" || return 0
  order_doc "$guid" >"$WORK/order.xml"
  check "$at: outside the allow-list" "$(fetch "$BASE/dorvana?q=test") $(fetch "$BASE/dorvana?q=addorder" --data-binary "@$WORK/order.xml")" "403 403"
  check "$at: outside, nothing imported" "$(imported "$guid")" 0
  stop
  cp -p "$(saved "$P/etc/dorvana/$1-allow.conf")" "$P/etc/dorvana/$1-allow.conf"
}

for server in lighttpd apache nginx; do keep "$P/etc/dorvana/$server-allow.conf"; done
snippet_of() {  # snippet_of SERVER MODE: the installed snippet's path
  case $1 in
    lighttpd) echo "$P/etc/lighttpd/conf-available/50-dorvana-$2.conf" ;;
    apache) echo "$P/etc/apache2/conf-available/dorvana-$2.conf" ;;
    nginx) echo "$P/etc/nginx/snippets/dorvana-$2.conf" ;;
  esac
}
for server in lighttpd apache nginx; do
  for mode in cgi fastcgi; do
    snippet=$(snippet_of "$server" "$mode")
    if [ "$server" = nginx ]; then
      # The sockets the snippet names, if the test's differ.
      if [ "$mode" = cgi ]; then
        serve_unix "$FCGIWRAP_SOCKET" fcgiwrap fcgiwrap -c 4
        from=/run/fcgiwrap.socket to=$FCGIWRAP_SOCKET
      else
        serve_unix "$SOCKET" dorvana "$PROGRAM"
        from=/run/dorvana.sock to=$SOCKET
      fi
      if [ -z "$P" ] && [ "$from" != "$to" ]; then
        sed -e "s|unix:$from;|unix:$to;|" "$snippet" >"$WORK/nginx-$mode.conf"
        snippet=$WORK/nginx-$mode.conf
      fi
    fi
    if start "$server" "$mode" "$snippet"; then
      served "$server" "$mode"
      stop
    fi
    refused "$server" "$mode" "$snippet"
  done
done

# Both snippets of a server enabled at once: the server refuses to start.
for server in lighttpd apache nginx; do
  cat "$(snippet_of "$server" cgi)" "$(snippet_of "$server" fastcgi)" >"$WORK/$server-both.conf"
  mkdir -p "$WORK/htdocs"
  conf=$(main_conf "$server" cgi "$WORK" 1 "$WORK/$server-both.conf")
  case $server in
    lighttpd) lighttpd -tt -f "$conf" ;;
    apache) apache2 -t -d "$WORK" -f "$conf" ;;
    nginx) mkdir -p "$WORK/tmp" && nginx -t -q -p "$WORK" -e "$WORK/nginx-t.log" -c "$conf" ;;
  esac >"$WORK/$server-both.out" 2>&1
  rc=$?
  why=$(grep -c -i -E 'dorvana_snippet|both enabled|duplicate location' "$WORK/$server-both.out")
  check "$server: both snippets at once refused, saying why" "$([ "$rc" != 0 ] && echo refused) $why" "refused 1"
done

# TLS through nginx: the snippet's marked block, its commented directives taken
# in, with a certificate made here, on a port of the test's own.
mkdir -p "$WORK/tls"
if openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
  -keyout "$WORK/tls/dorvana.key" -out "$WORK/tls/dorvana.crt" >/dev/null 2>&1; then
  tls_port=$(free_port)
  sed -e '/^# --- TLS: begin/,/^# --- TLS: end/ s/^#\([^ #-]\)/\1/' "$(snippet_of nginx cgi)" |
    sed -e "s|listen 443 ssl;|listen 127.0.0.1:$tls_port ssl;|" -e '/listen \[::\]:443/d' \
      -e "s|$P/etc/dorvana/tls/|$WORK/tls/|" >"$WORK/nginx-tls.conf"
  check "TLS block: the certificate lines taken in" "$(grep -c -E '^(listen|ssl_certificate)' "$WORK/nginx-tls.conf")" 3
  if start nginx cgi "$WORK/nginx-tls.conf"; then
    status=$(curl -s -o "$E2E_OUT/body" -w '%{http_code}' --cacert "$WORK/tls/dorvana.crt" "https://127.0.0.1:$tls_port/dorvana?q=test&a=1")
    check "nginx TLS: q=test over https" "$status $(head -c 7 "$E2E_OUT/body")" "200 type: 1"
    stop
  fi
else
  fail "TLS: openssl could not make a certificate"
fi
finish
