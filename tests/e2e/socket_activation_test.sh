#!/usr/bin/env bash
# The program started by systemd's socket-passing protocol, as dorvana.socket
# starts it (systemd-socket-activate passes the socket as descriptor 3 with
# LISTEN_FDS and LISTEN_PID): served alone and by the children of --processes,
# ended by TERM; a LISTEN_PID naming another process is not taken as meant for it.
source "$(dirname "$0")/harness.sh" "$1"

sock=$E2E_DIR/passed.sock
ask() { timeout 10 python3 "$E2E_ROOT/tests/e2e/fcgi_client.py" ask "$sock"; }
ACTIVATE_PID=
stop_activated() {
  [ -n "$ACTIVATE_PID" ] || return 0
  kill -TERM "$ACTIVATE_PID" 2>/dev/null || true
  wait "$ACTIVATE_PID" 2>/dev/null
}
e2e_at_exit stop_activated
# activate ARGS...: the program on a passed socket, in $E2E_DIR.
activate() {
  (cd "$E2E_DIR" && exec env -i PATH=/usr/bin:/bin systemd-socket-activate -l "$sock" \
    "$E2E_PROGRAM" "$@" </dev/null 2>>"$E2E_OUT/activate.log") &
  ACTIVATE_PID=$!
  wait_for 30 test -S "$sock" || true
}

for processes in "" "--processes 2"; do
  name="passed socket${processes:+ with $processes}"
  # shellcheck disable=SC2086
  activate $processes
  check "$name: q=test" "$(ask)" "Status: 200 OK"
  check "$name: and again" "$(ask)" "Status: 200 OK"
  if [ -n "$processes" ]; then
    children=$(pgrep -P "$ACTIVATE_PID" | wc -l)
    check "$name: children" "$children" 2
    # Each child serves the inherited socket although its parent unset the
    # variables: with one child stopped, the other still answers.
    kill -STOP "$(pgrep -P "$ACTIVATE_PID" | head -1)"
    check "$name: one child stopped, the other serves" "$(ask)" "Status: 200 OK"
    kill -CONT "$(pgrep -P "$ACTIVATE_PID" | head -1)"
  fi
  rc=0
  kill -TERM "$ACTIVATE_PID"
  wait "$ACTIVATE_PID" || rc=$?
  ACTIVATE_PID=
  check "$name: TERM ends it with 0" "$rc" 0
  rm -f "$sock"
done

# Through a shell that does not exec it, the program's LISTEN_PID is the shell's:
# not its socket, so it is no FastCGI server and runs (and ends) as CGI,
# instead of serving the socket until the timeout. (The
# activator starts it at the first connection.)
rc=0
(cd "$E2E_DIR" && exec timeout 20 env -i PATH=/usr/bin:/bin systemd-socket-activate -l "$sock" \
  sh -c '"$0"; exit $?' "$E2E_PROGRAM" </dev/null >"$E2E_OUT/other.out" 2>>"$E2E_OUT/activate.log") &
other=$!
wait_for 30 test -S "$sock" || true
python3 -c 'import socket, sys; socket.socket(socket.AF_UNIX).connect(sys.argv[1])' "$sock" || true
wait "$other" || rc=$?
check "another process's LISTEN_PID: served as CGI and ended" "$rc" 0
check "another process's LISTEN_PID: what it writes as CGI" "$(cat "$E2E_OUT/other.out")" \
  "$(cd "$E2E_DIR" && env -i "$E2E_PROGRAM" </dev/null)"

finish
