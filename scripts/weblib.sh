# What scripts/lighttpd.sh, scripts/apache.sh and scripts/nginx.sh share; sourced
# by them. Each serves the program from a working folder DIR on 127.0.0.1:PORT:
#
#   web_prepare DIR         copy the program into DIR (from $DORVANA_BIN, else
#                           build/dorvana); started as root, hand DIR and
#                           DIR/Orders to the web server's user (www-data) and let
#                           it read the settings files, and check that it can
#   web_wait NAME PID PORT LOG
#                           wait until PORT answers; fails (stopping nothing)
#                           when the process PID ends first or after 30 s
#   web_stop_pid PIDFILE [group]
#                           stop the process whose pid PIDFILE holds (with
#                           "group": its whole process group and session, which
#                           it leads),
#                           TERM then KILL after 5 s, and remove PIDFILE
#
# WEB_USER is the user the program runs as: www-data when started as root, else
# empty (the server then runs as whoever started it).

WEB_ROOT=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
WEB_USER=
if [ "$(id -u)" = 0 ]; then WEB_USER=www-data; fi

web_find() {  # web_find NAME PACKAGE: the path of the server program NAME
  local p
  for p in "$(command -v "$1" 2>/dev/null || true)" "/usr/sbin/$1" "/usr/local/sbin/$1"; do
    if [ -n "$p" ] && [ -x "$p" ]; then echo "$p"; return 0; fi
  done
  echo "$1 not found (apt-get install $2)" >&2
  return 1
}

web_prepare() {
  local dir=$1 bin f
  bin=${DORVANA_BIN:-$WEB_ROOT/build/dorvana}
  [ -x "$bin" ] || { echo "no program at $bin (build it first)" >&2; return 1; }
  # Replace, not overwrite: a process may still run the old copy.
  cp "$bin" "$dir/dorvana.new"
  chmod 755 "$dir/dorvana.new"
  mv -f "$dir/dorvana.new" "$dir/dorvana"
  [ -n "$WEB_USER" ] || return 0
  id "$WEB_USER" >/dev/null 2>&1 || { echo "no user $WEB_USER on this machine" >&2; return 1; }
  # The program writes Orders (creating it when missing) and reads the settings,
  # which hold a password: readable by the server's group, not by everyone.
  chown "$WEB_USER" "$dir"
  if [ -d "$dir/Orders" ]; then chown "$WEB_USER" "$dir/Orders"; fi
  # The program takes a name ending in .def in any letter case.
  for f in "$dir"/*.[dD][eE][fF]; do
    if [ -f "$f" ]; then chgrp "$WEB_USER" "$f" && chmod g+r "$f"; fi
  done
  if ! setpriv --reuid="$WEB_USER" --regid="$WEB_USER" --init-groups test -w "$dir" -a -x "$dir/dorvana"; then
    echo "user $WEB_USER cannot reach $dir: a folder above it is closed to others" >&2
    return 1
  fi
}

web_wait() {
  local name=$1 pid=$2 port=$3 log=$4 i
  for i in $(seq 1 600); do
    if ! kill -0 "$pid" 2>/dev/null; then
      echo "$name ended at start on 127.0.0.1:$port; see $log" >&2
      return 1
    fi
    if curl -s -o /dev/null "http://127.0.0.1:$port/" 2>/dev/null; then return 0; fi
    sleep 0.05
  done
  echo "$name did not answer on 127.0.0.1:$port; see $log" >&2
  return 1
}

# Whether a process (or, with "group", any process of the session it leads) is
# alive: one that has ended but is not reaped yet does not count.
web_alive() {
  local pid=$1 group=${2:-}
  if [ "$group" = group ]; then
    ps -o stat= -s "$pid" 2>/dev/null | grep -q -v '^Z'
  else
    ps -o stat= -p "$pid" 2>/dev/null | grep -q -v '^Z'
  fi
}

web_stop_pid() {
  local pidfile=$1 group=${2:-} pid target i
  [ -s "$pidfile" ] || return 0
  pid=$(cat "$pidfile")
  target=$pid
  if [ "$group" = group ]; then target=-$pid; fi
  if kill -TERM -- "$target" 2>/dev/null; then
    for i in $(seq 1 100); do
      web_alive "$pid" "$group" || break
      sleep 0.05
    done
    if web_alive "$pid" "$group"; then kill -KILL -- "$target" 2>/dev/null || true; fi
  fi
  rm -f "$pidfile"
}
