#!/usr/bin/env bash
# Each installed web server snippet (lighttpd, Apache, nginx; CGI, FastCGI) in a
# server of the test's own on 127.0.0.1: q=test, the menu and an order from a
# database made here, gzip only when asked, the settings file refused by any
# spelling, 403 outside the allow-list, both snippets at once refused, TLS
# through nginx. Prints what failed; exits 1 then.
#   snippets_test.sh                   the installed files (as root), put back
#   snippets_test.sh --staged PROGRAM  the source tree's, in a temporary root
# nginx's sockets: $DORVANA_FASTCGI_SOCKET (/run/dorvana.sock) and
# $DORVANA_FCGIWRAP_SOCKET (/run/fcgiwrap.socket); when nothing listens there,
# the test starts the program or fcgiwrap there as www-data.
set -u
ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
P=
if [ "${1:-}" = --staged ] && [ -x "${2:-}" ]; then
  P=$(mktemp -d /tmp/dorvana-staged.XXXXXX)
  chmod 755 "$P"
  while read -r src dest mode; do
    mkdir -p "$(dirname "$P$dest")"
    sed -e "s#/var/lib/dorvana#$P&#g; s#/etc/dorvana#$P&#g; s#/run/#$P&#g; s#/var/log/lighttpd#$P&#g" \
      "$ROOT/deploy/linux/$src" >"$P$dest"
    chmod "$mode" "$P$dest"
  done <"$ROOT/deploy/linux/FILES"
  mkdir -p "$P/var/lib/dorvana/Orders" "$P/var/log/lighttpd"
  cp "$2" "$P/var/lib/dorvana/dorvana"
  if [ "$(id -u)" = 0 ]; then chown www-data "$P/var/lib/dorvana/Orders" "$P/var/log/lighttpd"; fi
  DORVANA_FASTCGI_SOCKET=$P/run/dorvana.sock DORVANA_FCGIWRAP_SOCKET=$P/run/fcgiwrap.socket
elif [ $# != 0 ] || [ "$(id -u)" != 0 ]; then
  echo "usage: $0 (as root) | $0 --staged PROGRAM" >&2
  exit 2
fi
HOME_DIR=$P/var/lib/dorvana
SOCKET=${DORVANA_FASTCGI_SOCKET:-/run/dorvana.sock}
FCGIWRAP_SOCKET=${DORVANA_FCGIWRAP_SOCKET:-/run/fcgiwrap.socket}
missing=$(while read -r src dest mode; do [ -f "$P$dest" ] || echo "$P$dest"; done <"$ROOT/deploy/linux/FILES")
[ -x "$HOME_DIR/dorvana" ] || missing="$missing $HOME_DIR/dorvana"
[ -z "$missing" ] || { echo "FAIL not installed:" $missing; exit 1; }

# check, fetch, not_served, finish...; the database; WEB_USER, web_stop_pid.
source "$ROOT/tests/e2e/service_env.sh" "$HOME_DIR/dorvana"
set +e
source "$ROOT/scripts/weblib.sh"
AS=()
[ -z "$WEB_USER" ] || AS=(setpriv --reuid="$WEB_USER" --regid="$WEB_USER" --init-groups)

# What the test changes comes back at the exit, after the servers stopped.
mkdir "$WORK/saved"
saved() { printf '%s' "$WORK/saved/${1//\//_}"; }
keep() {  # keep PATH: as it is now (made: PATH goes again if it is not there)
  if [ -e "$1" ]; then [ "${2:-}" = made ] || cp -p "$1" "$(saved "$1")"; else : >"$(saved "$1").absent"; fi
  KEPT+=("$1")
}
KEPT=() STARTED=()
ORDERS_BEFORE=$(ls -A "$HOME_DIR/Orders" 2>/dev/null)
put_back() {
  local f
  for f in "${STARTED[@]}"; do web_stop_pid "$f" group; done
  for f in "${KEPT[@]}"; do
    if [ -e "$(saved "$f").absent" ]; then rm -rf "$f"; elif [ -e "$(saved "$f")" ]; then cp -p "$(saved "$f")" "$f"; fi
  done
  for f in "$HOME_DIR"/Orders/*; do  # the test's orders' archive copies
    [ ! -e "$f" ] || grep -qxF "${f##*/}" <<<"$ORDERS_BEFORE" || rm -f "$f"
  done
  [ -z "$P" ] || rm -rf "$P"
}
e2e_at_exit put_back
keep "$HOME_DIR/dorvana.def"
settings_for "$DB" >"$HOME_DIR/dorvana.def"
[ -z "$WEB_USER" ] || chgrp "$WEB_USER" "$HOME_DIR/dorvana.def"
chmod 0640 "$HOME_DIR/dorvana.def"
for server in lighttpd apache nginx; do keep "$P/etc/dorvana/$server-allow.conf"; done
# lighttpd's folder for the FastCGI sockets, as its package makes it at boot.
keep "$P/run/lighttpd" made
keep "$P/var/log/lighttpd/dorvana.log" made
mkdir -p "$P/run/lighttpd"
[ -z "$WEB_USER" ] || chown "$WEB_USER" "$P/run/lighttpd"

# serve_unix SOCKET COMMAND...: unless a process listens on SOCKET, binds it
# (0660, group www-data) and runs COMMAND as www-data with it as standard input.
serve_unix() {
  local socket=$1
  shift
  python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).connect(sys.argv[1])' "$socket" 2>/dev/null && return 0
  keep "$socket" made
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
os.execvp(sys.argv[2], sys.argv[2:])' "$socket" "${AS[@]}" "$@") </dev/null >>"$WORK/sockets.log" 2>&1 &
  echo $! >"$WORK/socket-${#STARTED[@]}.pid"
  STARTED+=("$WORK/socket-${#STARTED[@]}.pid")
  wait_for 10 test -S "$socket" || fail "nothing listens on $socket"
}

run_server() {  # run_server SERVER CONF: in the foreground
  case $1 in
    lighttpd) lighttpd -D -f "$2" ;;
    apache) apache2 -d "$(dirname "$2")" -f "$2" -DFOREGROUND ;;
    nginx) nginx -p "$(dirname "$2")" -e "$(dirname "$2")/error.log" -c "$2" ;;
  esac
}

# start SERVER MODE SNIPPET: a server of the test's own; sets BASE and RUN.
start() {
  local port
  RUN=$WORK/$1-$2-$RANDOM
  mkdir -p "$RUN/htdocs" "$RUN/tmp"
  touch "$RUN/error.log"
  [ -z "$WEB_USER" ] || chown "$WEB_USER" "$RUN/error.log"
  port=$(free_port)
  # The main file the scripts use; Apache's with the fewest modules (mod_fcgid
  # with its folder here, as Debian's package sets it): the snippet loads the rest.
  web_main "$1" "$RUN" "$port" "$3" alias fcgid >"$RUN/main.conf"
  setsid bash -c "$(declare -f run_server); run_server $1 $RUN/main.conf" \
    </dev/null >>"$RUN/error.log" 2>&1 &
  echo $! >"$RUN/server.pid"
  STARTED+=("$RUN/server.pid")
  BASE=http://127.0.0.1:$port E2E_BASE=http://127.0.0.1:$port
  web_wait "$1" "$!" "$port" "$RUN/error.log" 2>/dev/null && return 0
  fail "$1 $2: did not start over $3: $(tail -n 3 "$RUN/error.log" | tr '\n' ' ')"
  return 1
}
stop() { web_stop_pid "$RUN/server.pid" group; }

order_doc() {
  printf "<?xml version='1.0' encoding='windows-1251'?>\n<ORDER>\n<GUID>%s</GUID>\n<DEVICEID>HALL-1</DEVICEID>\n" "$1"
  printf '<PIN>1001</PIN>\n<TABLE>4</TABLE>\n<FOODS>\n<food>301<count>2</count><weight>0</weight><isModificator>no</isModificator></food>\n</FOODS>\n</ORDER>\n'
}

# served SERVER MODE: what a terminal asks, through the server at $BASE.
served() {
  local at="$1 $2" url=$BASE/dorvana menu="$BASE/dorvana?q=getsprfood&user=1002&device=HALL-1" path
  check "$at: q=test" "$(fetch "$url?q=test&a=1") $(head -c 7 "$E2E_OUT/body")" "200 type: 1"
  # The menu, plain, then for a client that asks for gzip.
  check "$at: menu" "$(fetch "$menu") $(header Content-Type)" "200 text/xml"
  check "$at: menu well-formed" "$(xmllint --noout "$E2E_OUT/body" 2>&1; grep -q '<food>' "$E2E_OUT/body" || echo no food)" ""
  check "$at: plain without Content-Encoding or Vary" "$(header Content-Encoding)$(header Vary)" ""
  mv "$E2E_OUT/body" "$E2E_OUT/plain"
  fetch "$menu" -H 'Accept-Encoding: gzip' >/dev/null
  check "$at: gzip with Vary" "$(header Content-Encoding) $(header Vary)" "gzip Accept-Encoding"
  gunzip -c <"$E2E_OUT/body" >"$E2E_OUT/gunzipped" 2>/dev/null
  check_file "$at: gzip decompresses to the plain bytes" "$E2E_OUT/gunzipped" "$E2E_OUT/plain"
  order_doc "in-$1-$2" >"$WORK/order.xml"
  check "$at: order" "$(fetch "$url?q=addorder" --data-binary "@$WORK/order.xml") $(cat "$E2E_OUT/body")" "200 ok"
  check "$at: order imported" "$(imported "in-$1-$2")" 1
  for path in /dorvana.def /DORVANA.DEF /Dorvana.def /dorvana%2edef /dorvana%2Edef /dorvana.d%65f /dorvana.def. \
    /dorvana.def%20 /dorvana.def/ //dorvana.def /./dorvana.def /dorvana/../dorvana.def /dorvana.def%00 /Orders/; do
    not_served "$path" "PASSWORD=" "$DBFILE"
  done
}

# refused SERVER MODE SNIPPET: with the allow-list naming 127.0.0.2 only, a
# client on 127.0.0.1 gets 403 and its order goes nowhere.
refused() {
  case $1 in
    lighttpd) printf '$HTTP["remoteip"] != "127.0.0.2" {\n  url.access-deny = ("")\n}\n' ;;
    apache) echo "Require ip 127.0.0.2" ;;
    nginx) echo "allow 127.0.0.2;" ;;
  esac >"$P/etc/dorvana/$1-allow.conf"
  if start "$@"; then
    order_doc "out-$1-$2" >"$WORK/order.xml"
    check "$1 $2: outside the allow-list" \
      "$(fetch "$BASE/dorvana?q=test") $(fetch "$BASE/dorvana?q=addorder" --data-binary "@$WORK/order.xml")" "403 403"
    check "$1 $2: outside, nothing imported" "$(imported "out-$1-$2")" 0
    stop
  fi
  cp -p "$(saved "$P/etc/dorvana/$1-allow.conf")" "$P/etc/dorvana/$1-allow.conf"
}

# debian_test SERVER SNIPPET...: the configuration test of a copy of
# /etc/SERVER with the snippets enabled (nginx: included in a server block).
debian_test() {
  local server=$1 c=$WORK/debian-$1 s
  shift
  rm -rf "$c"
  # Without the machine's own enabled snippets, if any.
  cp -a "/etc/${server/apache/apache2}" "$c" && rm -f "$c"/conf-enabled/*dorvana*
  case $server in
    apache)
      for s; do ln -s "$s" "$c/conf-enabled/"; done
      (set +u && source /etc/apache2/envvars && APACHE_RUN_DIR=$c APACHE_LOG_DIR=$c apache2 -d "$c" -t) ;;
    lighttpd)
      sed -i "s|/etc/lighttpd/|$c/|g" "$c/lighttpd.conf"
      for s; do ln -s "$s" "$c/conf-enabled/"; done
      lighttpd -tt -f "$c/lighttpd.conf" ;;
    nginx)
      sed -i "s|/etc/nginx/|$c/|g" "$c/nginx.conf"
      { echo "server { listen 127.0.0.1:1;"; printf 'include %s;\n' "$@"; echo "}"; } >"$c/conf.d/dorvana.conf"
      nginx -t -p "$c" -e "$c/error.log" -c "$c/nginx.conf" ;;
  esac
}
snippet_of() {  # snippet_of SERVER MODE: the installed snippet's path
  case $1 in
    lighttpd) echo "$P/etc/lighttpd/conf-available/50-dorvana-$2.conf" ;;
    apache) echo "$P/etc/apache2/conf-available/dorvana-$2.conf" ;;
    nginx) echo "$P/etc/nginx/snippets/dorvana-$2.conf" ;;
  esac
}
serve_unix "$FCGIWRAP_SOCKET" fcgiwrap -c 4
serve_unix "$SOCKET" "$HOME_DIR/dorvana"
for server in lighttpd apache nginx; do
  for mode in cgi fastcgi; do
    snippet=$(snippet_of "$server" "$mode")
    if [ "$server" = nginx ] && [ -z "$P" ]; then
      # The sockets of the test, where they differ from the snippet's.
      sed -e "s|unix:/run/dorvana.sock;|unix:$SOCKET;|; s|unix:/run/fcgiwrap.socket;|unix:$FCGIWRAP_SOCKET;|" \
        "$snippet" >"$WORK/nginx-$mode.conf"
      cmp -s "$snippet" "$WORK/nginx-$mode.conf" || snippet=$WORK/nginx-$mode.conf
    fi
    if start "$server" "$mode" "$snippet"; then
      served "$server" "$mode"
      stop
    fi
    refused "$server" "$mode" "$snippet"
  done
  # Enabled as Debian's tools enable them, in a copy of the machine's own
  # configuration: its configuration test passes with either snippet, and
  # fails with both, saying why.
  for mode in cgi fastcgi both; do
    # shellcheck disable=SC2046
    said=$(debian_test "$server" "$(snippet_of "$server" "${mode/both/cgi}")" \
      $([ "$mode" != both ] || snippet_of "$server" fastcgi) 2>&1) && verdict=passes || verdict=refused
    check "$server: Debian's configuration with $mode" \
      "$verdict $(grep -c -E 'dorvana_snippet|both enabled|duplicate location' <<<"$said")" \
      "$([ "$mode" = both ] && echo refused 1 || echo passes 0)"
  done
done

# TLS through nginx: the lines between the snippet's markers taken in, with a
# certificate made here, on a port of the test's own.
mkdir -p "$WORK/tls"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=127.0.0.1 -addext subjectAltName=IP:127.0.0.1 \
  -keyout "$WORK/tls/dorvana.key" -out "$WORK/tls/dorvana.crt" >/dev/null 2>&1 || fail "TLS: no certificate made"
tls_port=$(free_port)
sed -e '/^# --- TLS: begin/,/^# --- TLS: end/ { /^# --- TLS/! s/^#// }' "$(snippet_of nginx cgi)" |
  sed -e "s|listen 443 ssl;|listen 127.0.0.1:$tls_port ssl;|; /listen \[::\]:443/d; s|$P/etc/dorvana/tls/|$WORK/tls/|" \
    >"$WORK/nginx-tls.conf"
check "TLS: the block's directives taken in" "$(grep -c -E '^(listen|ssl_certificate)' "$WORK/nginx-tls.conf")" 3
if start nginx cgi "$WORK/nginx-tls.conf"; then
  status=$(curl -s -o "$E2E_OUT/body" -w '%{http_code}' --cacert "$WORK/tls/dorvana.crt" "https://127.0.0.1:$tls_port/dorvana?q=test&a=1")
  check "nginx TLS: q=test over https" "$status $(head -c 7 "$E2E_OUT/body")" "200 type: 1"
  stop
fi
finish
