#!/usr/bin/env bash
# The program as a FastCGI server, asked through cgi-fcgi (libfcgi-bin): every
# answer is byte for byte the CGI process's own (the direct_* golden files), one
# process answers many requests without one owing anything to another, a bad
# option is refused, the termination signal ends the server with 0, a dead child
# is replaced, and a listening socket as standard input (cgi-fcgi -start) serves
# as well. The same options given to a CGI request are ignored. Slow and idle
# connections hold no process past the read limit; a Unix socket admits its group
# only; FCGI_WEB_SERVER_ADDRS holds on every listening socket.
source "$(dirname "$0")/harness.sh" "$1"

command -v cgi-fcgi >/dev/null || { fail "cgi-fcgi not installed (apt-get install libfcgi-bin)"; finish; }

FCGI_PID=
stop_fcgi() {
  if [ -n "$FCGI_PID" ] && kill -0 "$FCGI_PID" 2>/dev/null; then
    kill -TERM "$FCGI_PID" 2>/dev/null || true
    wait "$FCGI_PID" 2>/dev/null || true
  fi
  FCGI_PID=
}
e2e_at_exit stop_fcgi

# start_fcgi ARGS...: the program with ARGS in $E2E_DIR, stderr to $E2E_OUT/fcgi.log;
# waits until the port answers.
FCGI_PORT=
start_fcgi() {
  FCGI_PORT=$(free_port)
  (cd "$E2E_DIR" && exec env -i PATH=/usr/bin:/bin "$E2E_PROGRAM" --fastcgi "127.0.0.1:$FCGI_PORT" "$@" \
    </dev/null 2>>"$E2E_OUT/fcgi.log") &
  FCGI_PID=$!
  wait_for 5 listening 127.0.0.1 "$FCGI_PORT" && return 0
  fail "the FastCGI server did not listen on $FCGI_PORT"
  finish
}
# one_child: the PID of the server's child, once it has one (at most 5 s).
has_child() { pgrep -P "$FCGI_PID" >/dev/null; }
one_child() { wait_for 5 has_child; pgrep -P "$FCGI_PID" | head -1; }

# fcgi NAME [VAR=value ...] [< body]: one request through cgi-fcgi; the answer is
# compared with golden/NAME, the CGI process's answer to the same request.
fcgi() {
  local name=$1
  shift
  if ! env -i "$@" cgi-fcgi -bind -connect "127.0.0.1:$FCGI_PORT" >"$E2E_OUT/$name.fcgi" \
    2>"$E2E_OUT/$name.err"; then
    fail "fastcgi $name: cgi-fcgi failed"
    return 0
  fi
  check_file "fastcgi $name" "$E2E_OUT/$name.fcgi" "$E2E_GOLDEN/$name"
}

GET=(SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=GET)

all_cases() {
  fcgi direct_test_get "${GET[@]}" 'QUERY_STRING=q=test&a=1' </dev/null
  fcgi direct_test_no_protocol REQUEST_METHOD=GET 'QUERY_STRING=q=test&a=1' </dev/null
  fcgi direct_unknown_q "${GET[@]}" 'QUERY_STRING=q=nothing&user=1' </dev/null
  fcgi direct_soap_get "${GET[@]}" PATH_INFO=/soap 'QUERY_STRING=q=test' </dev/null
  fcgi direct_decode_error SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=POST \
    PATH_INFO=/x 'QUERY_STRING=q=test' CONTENT_LENGTH=5 < <(printf 'a=%%zz')
  fcgi direct_test_post SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=POST 'QUERY_STRING=Q=test' \
    CONTENT_LENGTH=19 < <(printf 'x=1\r\n\r\ny=2&z=%%41+b\nrest-not-read')
  fcgi direct_env_fallbacks HTTP_SERVER_PROTOCOL=HTTP/1.0 HTTP_REQUEST_METHOD=put \
    'HTTP_QUERY_STRING=q=test' CONTENT_LENGTH=2 'HTTP_CONTENT_LENGTH=$4' < <(printf 'k=v&rest')
  fcgi direct_decode_error_no_protocol REQUEST_METHOD=GET 'QUERY_STRING=q=test&a=%4' \
    'PATH_INFO=/<i>&' </dev/null
  fcgi direct_body_too_large SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=POST \
    'QUERY_STRING=q=addorder' CONTENT_LENGTH=16777217 < <(printf '<o><GUID>x</GUID></o>')
}

# One process (--processes 1) answers every case, twice over, in an order that
# puts a failing request, a POST with a body and a 413 before plain GETs: each
# answer must still be the CGI process's own.
start_fcgi --processes 1
all_cases
all_cases
# A failure's log line travels on that request's FastCGI error stream (which the
# web server writes to its error log); a good answer logs nothing.
if grep -q -F "failure from -: Request body of 16777217 bytes exceeds the limit of 16777216 bytes" \
  "$E2E_OUT/direct_body_too_large.err"; then
  pass "fastcgi: the refusal's log line on the error stream"
else
  fail "fastcgi: the refusal's log line on the error stream"
  cat "$E2E_OUT/direct_body_too_large.err"
fi
check "fastcgi: nothing on the error stream for a good answer" \
  "$(wc -c <"$E2E_OUT/direct_test_get.err")" 0
if [ -e "$E2E_DIR/Orders" ]; then fail "fastcgi: the refused order was archived"; fi

# Children: --processes 3 starts three beside the supervisor; a killed child is
# replaced; the termination signal ends all and the supervisor exits with 0.
stop_fcgi
start_fcgi --processes 3
children() { pgrep -P "$FCGI_PID" | sort; }
three_children() { [ "$(children | wc -l)" = 3 ]; }
wait_for 5 three_children
check "fastcgi: three children" "$(children | wc -l)" 3
victim=$(children | head -1)
kill -KILL "$victim"
replaced() { ! children | grep -qx "$victim" && three_children; }
wait_for 10 replaced
check "fastcgi: a dead child is replaced" "$(children | wc -l)" 3
if children | grep -qx "$victim"; then fail "fastcgi: the killed child is still listed"; fi
fcgi direct_test_get "${GET[@]}" 'QUERY_STRING=q=test&a=1' </dev/null
kept=$(children)
kill -TERM "$FCGI_PID"
rc=0
wait "$FCGI_PID" || rc=$?
FCGI_PID=
check "fastcgi: exit code after the termination signal" "$rc" 0
left=0
for pid in $kept; do if kill -0 "$pid" 2>/dev/null; then left=$((left + 1)); fi; done
check "fastcgi: no child left after the termination signal" "$left" 0

# A request in flight when the signal comes is answered first: a POST whose body
# arrives after the signal.
start_fcgi --processes 1
child=$(one_child)
(sleep 0.6; printf 'x=1\r\n\r\ny=2&z=%%41+b\nrest-not-read') |
  env -i SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=POST 'QUERY_STRING=Q=test' CONTENT_LENGTH=19 \
    cgi-fcgi -bind -connect "127.0.0.1:$FCGI_PORT" >"$E2E_OUT/inflight" &
client=$!
# The child holds the connection (accepted, not only queued) before the signal.
accepted() { ss -Htnp state established "( sport = :$FCGI_PORT )" | grep -q "pid=$child,"; }
wait_for 5 accepted
kill -TERM "$FCGI_PID"
wait "$client" || true
check_file "fastcgi: the request in flight at the termination signal is answered" \
  "$E2E_OUT/inflight" "$E2E_GOLDEN/direct_test_post"
rc=0
wait "$FCGI_PID" || rc=$?
FCGI_PID=
check "fastcgi: exit code after the request in flight" "$rc" 0
if kill -0 "$child" 2>/dev/null; then fail "fastcgi: the child outlived the signal"; fi

# Bad options: a clear line on standard error, exit code 64, nothing listens.
usage_case() {  # usage_case NAME EXPECTED-TEXT ARGS...
  local name=$1 text=$2 rc=0
  shift 2
  (cd "$E2E_DIR" && env -i "$E2E_PROGRAM" "$@" </dev/null >"$E2E_OUT/usage.out" 2>"$E2E_OUT/usage.err") || rc=$?
  check "usage $name: exit code" "$rc" 64
  if grep -q -F -- "$text" "$E2E_OUT/usage.err"; then pass "usage $name: message"; else
    fail "usage $name: message"; cat "$E2E_OUT/usage.err"; fi
  check "usage $name: nothing on standard output" "$(wc -c <"$E2E_OUT/usage.out")" 0
}
usage_case no-address "--fastcgi needs an address HOST:PORT" --fastcgi
usage_case no-port "--fastcgi needs an address HOST:PORT" --fastcgi 127.0.0.1
usage_case zero-processes "--processes needs a number from 1 to 256" --fastcgi 127.0.0.1:1 --processes 0
usage_case many-processes "--processes needs a number from 1 to 256" --fastcgi 127.0.0.1:1 --processes 257
usage_case signed-processes "--processes needs a number from 1 to 256" --fastcgi 127.0.0.1:1 --processes +2
usage_case processes-alone "--processes applies to a FastCGI server" --processes 2
usage_case port-range "the port must be a number from 1 to 65535" --fastcgi 127.0.0.1:99999
usage_case port-zero "the port must be a number from 1 to 65535" --fastcgi 127.0.0.1:0
usage_case ipv6-brackets "an IPv6 address goes in brackets" --fastcgi ::1:9000
usage_case read-timeout "--request-read-timeout needs a number of seconds from 1 to 3600" \
  --fastcgi 127.0.0.1:1 --request-read-timeout 0
rc=0
(cd "$E2E_DIR" && env -i "$E2E_PROGRAM" --fastcgi 256.1.1.1:9 </dev/null 2>"$E2E_OUT/bind.err") || rc=$?
check "fastcgi: an address that cannot be bound: exit code" "$rc" 1
if grep -q 'Cannot listen on "256.1.1.1:9"' "$E2E_OUT/bind.err"; then pass "fastcgi: bind failure named"; else
  fail "fastcgi: bind failure named"; cat "$E2E_OUT/bind.err"; fi

# A CGI request whose arguments look like options (a web server passes a query
# string without "=" as arguments) is answered as CGI, and nothing listens.
port=$(free_port)
(cd "$E2E_DIR" && env -i "${GET[@]}" 'QUERY_STRING=q=test&a=1' \
  "$E2E_PROGRAM" --fastcgi "127.0.0.1:$port" --processes 2 </dev/null >"$E2E_OUT/cgi_args")
check_file "cgi: --fastcgi among a CGI request's arguments is ignored" \
  "$E2E_OUT/cgi_args" "$E2E_GOLDEN/direct_test_get"
(cd "$E2E_DIR" && env -i GATEWAY_INTERFACE=CGI/1.1 "${GET[@]}" 'QUERY_STRING=q=test&a=1' \
  "$E2E_PROGRAM" --processes 0 </dev/null >"$E2E_OUT/cgi_args2")
check_file "cgi: a bad option among a CGI request's arguments is ignored" \
  "$E2E_OUT/cgi_args2" "$E2E_GOLDEN/direct_test_get"
if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then fail "cgi: something listens on $port"; else
  pass "cgi: nothing listens after a CGI request with --fastcgi"; fi

# 10,000 requests of every kind (a failing one, a refused body among them)
# through one process: memory and descriptors stay where they were after 1,000.
start_fcgi --processes 1
child=$(one_child)
if python3 "$E2E_ROOT/tests/e2e/fcgi_client.py" "127.0.0.1:$FCGI_PORT" 10000 "$child" 1000 10000 \
  >"$E2E_OUT/soak"; then
  read -r _ rss1 fds1 < <(sed -n 1p "$E2E_OUT/soak")
  read -r _ rss2 fds2 < <(sed -n 2p "$E2E_OUT/soak")
  echo "     RSS ${rss1} KiB -> ${rss2} KiB, descriptors $fds1 -> $fds2 (1,000 -> 10,000 requests)"
  check "soak: descriptors after 10,000 requests as after 1,000" "$fds2" "$fds1"
  # A sanitizer build keeps freed blocks in quarantine (up to 256 MiB): its RSS
  # grows by design, and its leak checker watches memory there instead.
  if grep -q -a __asan_init "$E2E_PROGRAM"; then
    pass "soak: RSS not compared in a sanitizer build"
  elif [ $((rss2 - rss1)) -le 256 ]; then pass "soak: RSS grew by $((rss2 - rss1)) KiB (at most 256)"; else
    fail "soak: RSS grew by $((rss2 - rss1)) KiB from 1,000 to 10,000 requests"; fi
else
  fail "soak: a request was not answered"
fi
stop_fcgi

# Started by a process manager with a listening socket as standard input (made
# here as lighttpd or mod_fcgid make it: bound, listening, then the program exec'd).
port=$(free_port)
(cd "$E2E_DIR" && exec env -i python3 -c '
import os, socket, sys
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1])))
s.listen(16)
os.dup2(s.fileno(), 0)
os.execv(sys.argv[2], [sys.argv[2]])' "$port" "$E2E_PROGRAM" 2>>"$E2E_OUT/fcgi.log") &
FCGI_PID=$!
FCGI_PORT=$port
wait_for 3 listening 127.0.0.1 "$port"
fcgi direct_test_get "${GET[@]}" 'QUERY_STRING=q=test&a=1' </dev/null
fcgi direct_test_post SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=POST 'QUERY_STRING=Q=test' \
  CONTENT_LENGTH=19 < <(printf 'x=1\r\n\r\ny=2&z=%%41+b\nrest-not-read')
kill -TERM "$FCGI_PID"
rc=0
wait "$FCGI_PID" || rc=$?
FCGI_PID=
check "fastcgi on standard input: exit code after the termination signal" "$rc" 0

# 20 slow clients that reopen when closed (idle, a byte every 0.3 s, half a
# record header, a request without the end of its body, a refused request and
# more bytes) against 2 processes with a 2 s limit: q=test is answered meanwhile
# within the limit and a second.
start_fcgi --processes 2 --request-read-timeout 2
slowest=$(python3 "$E2E_ROOT/tests/e2e/fcgi_client.py" slow "127.0.0.1:$FCGI_PORT" 20 6) || slowest=99
echo "     slowest q=test among 20 slow clients: $slowest s"
check "slow clients: q=test answered within 3 s" "$(awk -v s="$slowest" 'BEGIN { print (s < 3) }')" 1
if grep -q "did not deliver its request within 2 s; closed" "$E2E_OUT/fcgi.log"; then
  pass "slow clients: closed with a log line"; else fail "slow clients: closed with a log line"; fi
stop_fcgi

# FCGI_WEB_SERVER_ADDRS on the --fastcgi socket (IPv4 and IPv6) and on a
# listening socket as standard input: a client not on the list gets nothing.
addrs_case() {  # addrs_case NAME LIST EXPECTED(200|none) LISTEN-ADDRESS CONNECT-ADDRESS
  local port
  port=$(free_port)
  if [ "$1" = stdin ]; then
    (cd "$E2E_DIR" && exec env -i FCGI_WEB_SERVER_ADDRS="$2" python3 -c '
import os, socket, sys
s = socket.socket(); s.bind(("127.0.0.1", int(sys.argv[1]))); s.listen(16)
os.dup2(s.fileno(), 0); os.execv(sys.argv[2], [sys.argv[2]])' "$port" "$E2E_PROGRAM" 2>>"$E2E_OUT/fcgi.log") &
  else
    (cd "$E2E_DIR" && exec env -i FCGI_WEB_SERVER_ADDRS="$2" "$E2E_PROGRAM" --fastcgi "${4/PORT/$port}" \
      --processes 1 </dev/null 2>>"$E2E_OUT/fcgi.log") &
  fi
  FCGI_PID=$!
  local where=${5/PORT/$port}
  where=${where%:*}
  wait_for 5 listening "${where//[][]/}" "$port"
  check "FCGI_WEB_SERVER_ADDRS $1 ($2)" \
    "$(timeout 5 python3 "$E2E_ROOT/tests/e2e/fcgi_client.py" ask "${5/PORT/$port}")" "$3"
  stop_fcgi
}
addrs_case tcp 127.0.0.2 none 127.0.0.1:PORT 127.0.0.1:PORT
addrs_case tcp "127.0.0.2, 127.0.0.1" "Status: 200 OK" 127.0.0.1:PORT 127.0.0.1:PORT
addrs_case tcp6 127.0.0.1 none "[::1]:PORT" "[::1]:PORT"
addrs_case tcp6 ::1 "Status: 200 OK" "[::1]:PORT" "[::1]:PORT"
addrs_case stdin 127.0.0.2 none - 127.0.0.1:PORT
addrs_case stdin 127.0.0.1 "Status: 200 OK" - 127.0.0.1:PORT

# A Unix socket: mode 0660 and the named group; a client outside the group is
# refused, one in it served; a dead server's socket file is replaced, a live
# one's is an error, and the file goes when the server ends.
sockdir=$(mktemp -d /tmp/dorvana-sock.XXXXXX)
chmod 755 "$sockdir"
remove_sockdir() { rm -rf "$sockdir"; }
e2e_at_exit remove_sockdir
sock=$sockdir/d.sock
start_unix() {
  (cd "$E2E_DIR" && exec env -i "$E2E_PROGRAM" --fastcgi "$sock" "$@" </dev/null 2>>"$E2E_OUT/fcgi.log") &
  FCGI_PID=$!
  # Up to 30 s: a loaded machine (the sanitizer pass beside other tests) starts
  # the program slowly.
  wait_for 30 python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).connect(sys.argv[1])' "$sock" \
    2>/dev/null || true
}
as_client() {  # as_client GROUP: q=test through the socket as nobody with that group
  env -i "${GET[@]}" QUERY_STRING=q=test setpriv --reuid=nobody --regid="$1" --clear-groups \
    cgi-fcgi -bind -connect "$sock" 2>/dev/null | head -c 14
}
if [ "$(id -u)" = 0 ]; then
  start_unix --socket-group daemon --processes 1
  check "unix socket: mode and group" "$(stat -c '%A %G' "$sock")" "srw-rw---- daemon"
  check "unix socket: a client outside the group is refused" "$(as_client nogroup)" ""
  check "unix socket: a client in the group is served" "$(as_client daemon)" "Status: 200 OK"
  slowest=$(python3 "$E2E_ROOT/tests/e2e/fcgi_client.py" slow "$sock" 8 3) || slowest=99
  check "unix socket: q=test among slow clients within 3 s" "$(awk -v s="$slowest" 'BEGIN { print (s < 3) }')" 1
  # The supervisor stopped first, so that it starts no child between the look
  # for its children and the kill; then every one of them is gone.
  kill -STOP "$FCGI_PID"
  children=$(pgrep -P "$FCGI_PID" || true)
  # shellcheck disable=SC2086
  kill -KILL "$FCGI_PID" $children
  wait "$FCGI_PID" 2>/dev/null || true
  # shellcheck disable=SC2086
  wait_for 10 sh -c "! kill -0 ${children:-0} 2>/dev/null" || true
  start_unix --processes 1
  answer=$(as_client root)
  check "unix socket: a dead server's file is replaced" "$answer" "Status: 200 OK"
  [ -n "$answer" ] || tail -5 "$E2E_OUT/fcgi.log"
  rc=0
  (cd "$E2E_DIR" && timeout 5 env -i "$E2E_PROGRAM" --fastcgi "$sock" </dev/null 2>"$E2E_OUT/live.err") || rc=$?
  check "unix socket: a live server's socket: exit code" "$rc" 1
  check "unix socket: a live server's socket: one line" "$(grep -c 'another process listens on it' "$E2E_OUT/live.err")" 1
  stop_fcgi
  check "unix socket: removed at the end" "$(ls "$sockdir")" ""
else
  pass "unix socket: group checks need root (skipped)"
fi

finish
