# shellcheck shell=bash
# The FastCGI cases of the Windows pass, sourced by tests/windows/run.sh (which
# gives ROOT, OUT, WINE, WINEPREFIX, SCRATCH, ok and fail, and, after db.sh, the
# database site $SCRATCH/good.win and its Linux twin).
#
# dorvana.exe is started as IIS starts a FastCGI program, by our own launcher
# (tests/windows/launcher/launcher.c): a named pipe as standard input, standard
# output and error invalid, the shutdown event in _FCGI_SHUTDOWN_EVENT_; one pipe
# connection per request. The answers' bytes must be the CGI program's.

LAUNCHER=$OUT/tests/launcher/launcher.exe
FCGI_IN=
FCGI_OUT=
FCGI_PID=

# fcgi_start DIR: the launcher and the program in DIR (the program's folder).
fcgi_start() {
  local fifo=$SCRATCH/fcgi.$RANDOM
  mkfifo "$fifo.in" "$fifo.out"
  (cd "$1" && exec "$WINE" "$LAUNCHER" "Z:$OUT/dorvana.exe" <"$fifo.in" >"$fifo.out" 2>"$SCRATCH/launcher.err") &
  FCGI_PID=$!
  exec {FCGI_IN}>"$fifo.in" {FCGI_OUT}<"$fifo.out"
  rm -f "$fifo.in" "$fifo.out"
}
# fcgi LINE: one launcher command; its answer in $FCGI_REPLY (status 1 when none).
fcgi() {
  FCGI_REPLY=
  printf '%s\n' "$1" >&"$FCGI_IN"
  IFS= read -r -t 600 FCGI_REPLY <&"$FCGI_OUT" || return 1
  FCGI_REPLY=${FCGI_REPLY%$'\r'}
}
# The launcher ends at the end of its input (and with it a program still running).
fcgi_end() {
  exec {FCGI_IN}>&- {FCGI_OUT}<&-
  local tries
  for tries in $(seq 100); do
    kill -0 "$FCGI_PID" 2>/dev/null || break
    sleep 0.1
  done
  kill "$FCGI_PID" 2>/dev/null || true
  wait "$FCGI_PID" 2>/dev/null || true
}

# A stand-in for the program in the end-to-end harness: the request's variables
# and body go to the running FastCGI process as one request, its answer's bytes
# come out on standard output (exit code 0 when the request ended normally). It
# reaches the launcher through descriptors 7 and 8 (the harness clears the
# environment).
cat >"$SCRATCH/dorvana-fcgi" <<EOF
#!/bin/bash
f=$SCRATCH/req.\$\$
/usr/bin/env -0 -u PWD -u SHLVL -u _ -u OLDPWD >"\$f.env"
/bin/cat >"\$f.body"
printf 'R Z:%s Z:%s Z:%s Z:%s\n' "\$f.env" "\$f.body" "\$f.out" "\$f.err" >&7
IFS= read -r -t 120 reply <&8
/bin/cat "\$f.out"
/bin/rm -f "\$f.env" "\$f.body" "\$f.out" "\$f.err"
[ "\${reply%\$'\r'}" = "ok 0" ]
EOF
chmod +x "$SCRATCH/dorvana-fcgi"

# fcgi_request NAME VAR=value... (body on standard input): one request, the answer
# in $SCRATCH/NAME.fcgi.
fcgi_request() {
  local name=$1
  shift
  printf '%s\0' "$@" >"$SCRATCH/$name.env"
  cat >"$SCRATCH/$name.body"
  fcgi "R Z:$SCRATCH/$name.env Z:$SCRATCH/$name.body Z:$SCRATCH/$name.fcgi Z:$SCRATCH/$name.fcgi.err"
}

# fcgi_tcp PORT QUERY: one q=... request over TCP; prints the answer's stdout bytes
# ("closed" when the connection ended without an answer).
fcgi_tcp() {
  python3 - "$1" "$2" <<'PY'
import socket, struct, sys
def rec(t, c): return struct.pack(">BBHHBB", 1, t, 1, len(c), 0, 0) + c
env = {b"SERVER_PROTOCOL": b"HTTP/1.1", b"REQUEST_METHOD": b"GET", b"QUERY_STRING": sys.argv[2].encode()}
params = b"".join(bytes([len(k), len(v)]) + k + v for k, v in env.items())
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=30)
s.sendall(rec(1, struct.pack(">HB5x", 1, 0)) + rec(4, params) + rec(4, b"") + rec(5, b""))
data = b""
while True:
    try:
        chunk = s.recv(65536)
    except ConnectionResetError:
        chunk = b""
    if not chunk: break
    data += chunk
out, ended = b"", False
while len(data) >= 8:
    _, t, _, n, pad = struct.unpack(">BBHHB", data[:7])
    if t == 6: out += data[8:8 + n]
    ended |= t == 3
    data = data[8 + n + pad:]
sys.stdout.buffer.write(out if ended else b"closed")
PY
}

fastcgi_cases() {
  mkdir -p "$(dirname "$LAUNCHER")"
  if ! x86_64-w64-mingw32-gcc -O2 -Wall -Wextra -Werror "$ROOT/tests/windows/launcher/launcher.c" \
    -o "$LAUNCHER" -lpsapi 2>"$SCRATCH/launcher.log"; then
    fail "FastCGI: the launcher did not build"
    cat "$SCRATCH/launcher.log"
    return
  fi
  # ---- the front end's golden answers, twice through one process ----------------
  local cases=
  for script in frontend_test.sh soap_test.sh; do
    cases+=$(sed -n '/^source .*harness.sh/,/^# Through /p' "$ROOT/tests/e2e/$script" | sed 1d)$'\n'
  done
  (
    set +e
    source "$ROOT/tests/e2e/harness.sh" "$SCRATCH/dorvana-fcgi"
    fcgi_start "$E2E_DIR"
    exec 7>&"$FCGI_IN" 8<&"$FCGI_OUT"
    eval "$cases"
    eval "$cases"
    fcgi K
    echo "exit: $FCGI_REPLY"
    exec 7>&- 8<&-
    fcgi_end
  ) >"$SCRATCH/fcgi-golden.log" 2>&1
  local passed
  passed=$(grep -c '^ok ' "$SCRATCH/fcgi-golden.log")
  if [ "$passed" -gt 0 ] && ! grep -q '^FAIL' "$SCRATCH/fcgi-golden.log" &&
    grep -q '^exit: ok exit 0$' "$SCRATCH/fcgi-golden.log"; then
    ok "FastCGI: the golden answers twice through one process ($passed cases), exit code 0"
  else
    fail "FastCGI: the golden answers twice through one process"
    grep -v '^ok' "$SCRATCH/fcgi-golden.log" | head -40
  fi

  # ---- a pipe without overlapped I/O (its calls block): served, and the stop ----
  # cuts the blocked wait for the next connection short.
  LAUNCHER_SYNC_PIPE=1 fcgi_start "$SCRATCH"
  printf '%s\0' SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=GET 'QUERY_STRING=q=test&a=1' >"$SCRATCH/sync.env"
  : >"$SCRATCH/sync.body"
  fcgi "L 20 Z:$SCRATCH/sync.env Z:$SCRATCH/sync.body"
  local sync_reply=$FCGI_REPLY
  fcgi K
  if [[ "$sync_reply" == "ok 20 20 "* ]] && [ "$FCGI_REPLY" = "ok exit 0" ]; then
    ok "FastCGI on a synchronous pipe: 20 requests, the shutdown event when idle: exit code 0"
  else
    fail "FastCGI on a synchronous pipe (launcher: $sync_reply; $FCGI_REPLY)"
  fi
  fcgi_end

  # ---- TCP: one process listening on HOST:PORT, and the allow-list -------------
  local port rc=0 expected
  port=$(free_port)
  (cd "$SCRATCH" && exec env FCGI_WEB_SERVER_ADDRS="10.9.9.9, 127.0.0.1" "$WINE" "$OUT/dorvana.exe" \
    --fastcgi "127.0.0.1:$port" 2>"$SCRATCH/tcp.err") &
  local tcp_pid=$!
  wait_for 60 listening 127.0.0.1 "$port" || true
  expected=$(cd "$SCRATCH" && env -i SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=GET 'QUERY_STRING=q=test&a=1' \
    WINEPREFIX="$WINEPREFIX" WINEDEBUG=-all "$WINE" "$OUT/dorvana.exe" | od -c)
  if [ "$(fcgi_tcp "$port" 'q=test&a=1' | od -c)|$(fcgi_tcp "$port" 'q=test&a=1' | od -c)" = "$expected|$expected" ]; then
    ok "FastCGI over TCP: q=test twice through one process, the CGI answer's bytes"
  else
    fail "FastCGI over TCP: q=test twice through one process, the CGI answer's bytes"
  fi
  kill "$tcp_pid" 2>/dev/null || true
  wait "$tcp_pid" 2>/dev/null || true
  port=$(free_port)
  (cd "$SCRATCH" && exec env FCGI_WEB_SERVER_ADDRS=10.9.9.9 "$WINE" "$OUT/dorvana.exe" \
    --fastcgi "127.0.0.1:$port" 2>/dev/null) &
  tcp_pid=$!
  wait_for 60 listening 127.0.0.1 "$port" || true
  check "FastCGI over TCP: a client not in FCGI_WEB_SERVER_ADDRS is closed" \
    "$(fcgi_tcp "$port" 'q=test')" closed
  kill "$tcp_pid" 2>/dev/null || true
  wait "$tcp_pid" 2>/dev/null || true
  (cd "$SCRATCH" && "$WINE" "$OUT/dorvana.exe" --fastcgi 127.0.0.1:1 --processes 2 \
    </dev/null >/dev/null 2>"$SCRATCH/processes.err") || rc=$?
  if [ "$rc" = 64 ] && grep -q 'on Windows a FastCGI listener is one process; IIS starts more' "$SCRATCH/processes.err"; then
    ok "FastCGI on Windows: --processes is a usage error naming IIS"
  else
    fail "FastCGI on Windows: --processes is a usage error naming IIS (exit code $rc)"
    cat "$SCRATCH/processes.err"
  fi

  # ---- the database through one process ----------------------------------------
  if [ ! -d "$SCRATCH/good.win" ]; then
    fail "FastCGI: no database site (the database cases did not run)"
    return
  fi
  local site=$SCRATCH/fcgi.win
  cp -a "$SCRATCH/good.win" "$site"
  rm -rf "$site/Orders"
  fcgi_start "$site"
  local GET=(SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=GET) query name round same=1
  local queries=('q=getsprfood&user=1001&device=CHECK&version=3' 'q=getsprfood&user=1002&device=HALL-1'
    'q=getsprfoodgroup&user=1001&device=CHECK' 'q=getsprstewards')
  for round in 1 2; do
    for query in "${queries[@]}"; do
      name=list$round.${#query}
      fcgi_request "$name" "${GET[@]}" "QUERY_STRING=$query" </dev/null
      (cd "$SCRATCH/good.linux" && env -i "${GET[@]}" "QUERY_STRING=$query" "$ROOT/build/dorvana" \
        </dev/null >"$SCRATCH/$name.linux" 2>/dev/null)
      if ! cmp -s "$SCRATCH/$name.fcgi" "$SCRATCH/$name.linux" || ! grep -q '<' "$SCRATCH/$name.linux"; then
        same=0
        echo "differs: $query (round $round)"
        cmp "$SCRATCH/$name.fcgi" "$SCRATCH/$name.linux" || true
      fi
    done
  done
  [ "$same" = 1 ] && ok "FastCGI, database: four lists twice, the Linux CGI program's bytes" ||
    fail "FastCGI, database: four lists twice, the Linux CGI program's bytes"
  local POST=(SERVER_PROTOCOL=HTTP/1.1 REQUEST_METHOD=POST QUERY_STRING=q=addorder
    CONTENT_TYPE=application/x-www-form-urlencoded)
  order w-fcgi 7 "301 2 0 no" "1101 1 500 N" >"$SCRATCH/o-fcgi.xml"
  local length
  length=$(stat -c %s "$SCRATCH/o-fcgi.xml")
  fcgi_request order1 "${POST[@]}" "CONTENT_LENGTH=$length" <"$SCRATCH/o-fcgi.xml"
  fcgi_request order2 "${POST[@]}" "CONTENT_LENGTH=$length" <"$SCRATCH/o-fcgi.xml"
  if [ "$(sed -e '1,/^\r$/d' "$SCRATCH/order1.fcgi")|$(sed -e '1,/^\r$/d' "$SCRATCH/order2.fcgi")" = "ok|ok" ] &&
    [ "$(db_count "select count(*) from Restaurant_ImportedOrders where guid = 'w-fcgi';")" = 1 ] &&
    [ "$(db_count "select count(*) from Restaurant_ImportedOrderRows where guidOrder = 'w-fcgi';")" = 2 ]; then
    ok "FastCGI, database: an order posted twice, both ok, stored once with its two rows"
  else
    fail "FastCGI, database: an order posted twice, both ok, stored once with its two rows"
    head -c 400 "$SCRATCH/order1.fcgi" "$SCRATCH/order2.fcgi"
  fi

  # ---- a shutdown with a request in flight ---------------------------------------
  # The event comes when half of the order's body is sent: the order is still
  # served, its answer arrives whole, then the module goes (the connection is
  # detached) and the process exits with 0.
  order w-fcgi-stop 8 "301 1 0 no" >"$SCRATCH/o-stop.xml"
  printf '%s\0' "${POST[@]}" "CONTENT_LENGTH=$(stat -c %s "$SCRATCH/o-stop.xml")" >"$SCRATCH/stop.env"
  fcgi "Q Z:$SCRATCH/stop.env Z:$SCRATCH/o-stop.xml Z:$SCRATCH/stop.fcgi Z:$SCRATCH/stop.err"
  local attachments
  attachments=$(db_count "select count(*) from mon\$attachments where mon\$attachment_id <> current_connection and mon\$remote_protocol is not null;")
  if [ "$FCGI_REPLY" = "ok 0 exit 0" ] && [ "$(sed -e '1,/^\r$/d' "$SCRATCH/stop.fcgi")" = ok ] &&
    [ "$(db_count "select count(*) from Restaurant_ImportedOrders where guid = 'w-fcgi-stop';")" = 1 ] &&
    [ "$attachments" = 0 ]; then
    ok "FastCGI: the shutdown event during a request: answered whole, stored, exit code 0, no attachment left"
  else
    fail "FastCGI: the shutdown event during a request (launcher: $FCGI_REPLY, attachments: $attachments)"
    head -c 400 "$SCRATCH/stop.fcgi"
  fi
  fcgi_end

  # ---- 10,000 requests: memory and handles flat ----------------------------------
  fcgi_start "$site"
  printf '%s\0' "${GET[@]}" 'QUERY_STRING=q=getsprstewards' >"$SCRATCH/soak.env"
  : >"$SCRATCH/soak.body"
  fcgi "L 10000 Z:$SCRATCH/soak.env Z:$SCRATCH/soak.body"
  # ok N SAME first WS PB HC last WS PB HC rps R p50 P p99 P
  local f
  read -r -a f <<<"$FCGI_REPLY"
  echo "FastCGI soak: $FCGI_REPLY"
  if [ "${f[0]:-}" = ok ] && [ "${f[2]}" = 10000 ] &&
    [ "${f[8]}" -le $((f[4] + f[4] / 10 + 512)) ] && [ "${f[9]}" -le $((f[5] + f[5] / 10 + 512)) ] &&
    [ "${f[10]}" -le $((f[6] + 5)) ]; then
    ok "FastCGI: 10,000 lists through one process, every answer the same; memory and handles flat"
  else
    fail "FastCGI: 10,000 lists through one process, every answer the same; memory and handles flat"
  fi
  fcgi K
  [ "$FCGI_REPLY" = "ok exit 0" ] && ok "FastCGI: the shutdown event when idle: exit code 0" ||
    fail "FastCGI: the shutdown event when idle (launcher: $FCGI_REPLY)"
  fcgi_end
}

fastcgi_cases
