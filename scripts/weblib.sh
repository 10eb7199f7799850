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
#   web_snippet FILE DIR STATE
#                           the snippet deploy/linux/FILE for a server over DIR
#                           whose own files are in STATE (see below)
#   web_main SERVER STATE PORT SNIPPET [MODULE...]
#                           a main file that includes the snippet (see below)
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

# web_snippet FILE DIR STATE [SED-ARGS...]: the web server snippet
# deploy/linux/FILE, which the package installs, as a server over the program
# folder DIR uses it: DIR for /var/lib/dorvana, STATE/allow.conf for the
# allow-list under /etc/dorvana, STATE/run/ for the sockets under /run, and
# STATE/error.log for the program's log; SED-ARGS change more (the number of
# processes).
web_snippet() {
  local file=$WEB_ROOT/deploy/linux/$1 dir state
  dir=$(web_sed_text "$2")
  state=$(web_sed_text "$3")
  shift 3
  [ -f "$file" ] || { echo "no snippet $file" >&2; return 1; }
  # Each path through a mark first, so that no replacement acts on another's
  # text.
  sed -e 's|/etc/dorvana/[a-z]*-allow\.conf|@ALLOW@|g' -e 's|/run/lighttpd/|@RUN@|g' \
    -e 's|unix:/run/|unix:@RUN@|g' -e 's|/var/log/lighttpd/dorvana\.log|@LOG@|g' \
    -e 's|/var/lib/dorvana|@DIR@|g' "$@" -e "s|@ALLOW@|$state/allow.conf|g" \
    -e "s|@RUN@|$state/run/|g" -e "s|@LOG@|$state/error.log|g" -e "s|@DIR@|$dir|g" "$file"
}

# web_main SERVER STATE PORT SNIPPET [MODULE...]: a server's main file (printed),
# which serves SNIPPET on 127.0.0.1:PORT and nothing else, with its pid, logs,
# temporary files and empty document root (STATE/htdocs) in STATE; as
# $WEB_USER when set. Apache loads the MODULEs (mod_fcgid with its folder
# STATE/fcgid); the snippet loads any other it needs.
web_main() {
  local state=$2 port=$3 snippet=$4 m=/usr/lib/apache2/modules mod
  case $1 in
    lighttpd)
      printf 'server.modules = ("mod_access")\nserver.bind = "127.0.0.1"\nserver.port = %s\n' "$port"
      [ -z "$WEB_USER" ] || printf 'server.username = "%s"\nserver.groupname = "%s"\n' "$WEB_USER" "$WEB_USER"
      printf 'server.document-root = "%s/htdocs"\nserver.errorlog = "%s/error.log"\n' "$state" "$state"
      printf 'include "%s"\n$HTTP["url"] !~ "^/dorvana(/|$)" {\n  url.access-deny = ("")\n}\n' "$snippet" ;;
    apache)
      printf 'ServerRoot "%s"\nDefaultRuntimeDir "%s"\nPidFile "%s/httpd.pid"\n' "$state" "$state" "$state"
      printf 'ErrorLog "%s/error.log"\nLogLevel warn\nListen 127.0.0.1:%s\nServerName 127.0.0.1\n' "$state" "$port"
      [ -z "$WEB_USER" ] || printf 'User %s\nGroup %s\n' "$WEB_USER" "$WEB_USER"
      shift 4
      for mod in mpm_event authz_core "$@"; do echo "LoadModule ${mod}_module $m/mod_$mod.so"; done
      if [[ " $* " == *" fcgid "* ]]; then
        mkdir -p "$state/fcgid"
        [ -z "$WEB_USER" ] || chown "$WEB_USER" "$state/fcgid"
        printf 'FcgidIPCDir "%s/fcgid"\nFcgidProcessTableFile "%s/fcgid/shm"\n' "$state" "$state"
      fi
      printf 'DocumentRoot "%s/htdocs"\n<Directory />\n  AllowOverride None\n  Require all denied\n</Directory>\n' "$state"
      printf 'Include "%s"\n' "$snippet" ;;
    nginx)
      [ -z "$WEB_USER" ] || echo "user $WEB_USER;"
      printf 'daemon off;\npid %s/nginx.pid;\nerror_log %s/error.log;\nworker_processes 1;\n' "$state" "$state"
      printf 'events { worker_connections 256; }\nhttp {\n  access_log off;\n'
      for mod in client_body fastcgi proxy uwsgi scgi; do echo "  ${mod}_temp_path $state/tmp/$mod;"; done
      printf '  server {\n    listen 127.0.0.1:%s;\n    root %s/htdocs;\n    include %s;\n' "$port" "$state" "$snippet"
      printf '    location / {\n      deny all;\n    }\n  }\n}\n' ;;
  esac
}

# web_sed_text TEXT: TEXT for the replacement side of a sed s|...|...| command.
web_sed_text() { printf '%s' "$1" | sed -e 's/[\\|&]/\\&/g'; }

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

# The client networks a server lets in: $ALLOW, addresses and CIDR networks
# (IPv4 or IPv6) separated by blanks, loopback only (127.0.0.0/8 ::1) when
# unset. Every configuration the scripts write lets a client outside all of
# them reach nothing: 403 from the web server, and the program never hears of
# the request. Set it to the terminals' network, e.g.
# ALLOW="192.168.10.0/24 10.0.5.7".
#
#   web_allow    prints the entries one a line; fails naming the first
#                malformed one (or an empty list)
web_allow() {
  local entries entry
  # Split on blanks, without expanding patterns.
  read -r -a entries <<<"${ALLOW-127.0.0.0/8 ::1}"
  set -- "${entries[@]}"
  if [ $# = 0 ]; then
    echo "ALLOW is empty: name the terminals' addresses or networks, e.g. ALLOW=\"192.168.10.0/24\"" >&2
    return 1
  fi
  for entry in "$@"; do
    if ! web_allow_entry "$entry"; then
      echo "ALLOW: '$entry' is not an IPv4 or IPv6 address or network (ADDRESS or ADDRESS/PREFIX, the prefix 1 or more and the bits after it zero, as in 192.168.10.0/24 or fd00:10::/64; an IPv4 address in its dotted form only)" >&2
      return 1
    fi
  done
  printf '%s\n' "$@"
}

# web_allow_entry ENTRY: whether ENTRY is an address or a network (prefix 1 or
# more) whose bits past the prefix are zero (192.168.10.5/24 is a mistake for
# 192.168.10.0/24).
web_allow_entry() {
  local address=${1%/*} prefix= groups bits width i start g mask
  if [[ $1 == */* ]]; then
    prefix=${1##*/}
    # At least 1: Apache takes no /0 (and letting everyone in is no list).
    [[ $prefix =~ ^[1-9][0-9]{0,2}$ ]] || return 1
  fi
  if [[ $address == *:* ]]; then
    groups=$(web_ipv6_groups "$address") || return 1
    # An IPv4 client is named by its IPv4 address (Apache takes no other form).
    [[ $groups != "0 0 0 0 0 65535 "* ]] || return 1
    width=128
  else
    bits=$(web_ipv4_number "$address") || return 1
    # As two 16-bit groups, so that one check serves both families.
    groups="$((bits >> 16)) $((bits & 65535))"
    width=32
  fi
  [ -n "$prefix" ] || return 0
  [ "$prefix" -le "$width" ] || return 1
  i=0
  for g in $groups; do
    start=$((i * 16))
    i=$((i + 1))
    if [ "$prefix" -ge $((start + 16)) ]; then continue; fi
    mask=65535
    if [ "$prefix" -gt "$start" ]; then mask=$(((1 << (16 - (prefix - start))) - 1)); fi
    [ $((g & mask)) = 0 ] || return 1
  done
}

# web_ipv4_number TEXT: the dotted address as one number; fails unless it is
# four decimal parts 0..255 without leading zeros (which some read as octal).
web_ipv4_number() {
  local part number=0
  [[ $1 =~ ^[0-9]{1,3}(\.[0-9]{1,3}){3}$ ]] || return 1
  for part in ${1//./ }; do
    [[ $part =~ ^(0|[1-9][0-9]*)$ ]] && [ "$part" -le 255 ] || return 1
    number=$((number * 256 + part))
  done
  echo "$number"
}

# web_ipv6_groups TEXT: the address's eight 16-bit groups as numbers; fails
# unless it is a textual IPv6 address in hexadecimal groups (one "::" at most;
# no zone, and no dotted IPv4 tail).
web_ipv6_groups() {
  local text=$1 head rest count=0 g out=() hex='[0-9A-Fa-f]{1,4}'
  [[ $text =~ ^[0-9A-Fa-f:]+$ ]] || return 1
  case $text in *::*::* | *:::*) return 1 ;; esac
  if [[ $text == *::* ]]; then
    head=${text%%::*}
    rest=${text#*::}
    [[ $head =~ ^($hex(:$hex)*)?$ && $rest =~ ^($hex(:$hex)*)?$ ]] || return 1
  else
    head=$text
    rest=
    [[ $head =~ ^$hex(:$hex){7}$ ]] || return 1
  fi
  for g in ${rest//:/ }; do count=$((count + 1)); done
  for g in ${head//:/ }; do out+=($((16#$g))); done
  # "::" stands for at least one group of zeros.
  if [[ $text == *::* ]]; then
    [ $((${#out[@]} + count)) -le 7 ] || return 1
    while [ $((${#out[@]} + count)) -lt 8 ]; do out+=(0); done
  fi
  for g in ${rest//:/ }; do out+=($((16#$g))); done
  echo "${out[*]}"
}
