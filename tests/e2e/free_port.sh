# Ports for the tests (sourced by harness.sh and by bench/intake/outage.sh).
#
# free_port: a free port below the kernel's ephemeral range, so that no outgoing
# connection takes it between this check and the moment a server binds it (the relay
# of the order fault test is stopped and restarted on the same port).
free_port() {
  python3 -c '
import random, socket
low = int(open("/proc/sys/net/ipv4/ip_local_port_range").read().split()[0])
for _ in range(200):
    port = random.randrange(10000, max(low, 10001))
    s = socket.socket()
    try:
        s.bind(("127.0.0.1", port))
    except OSError:
        continue
    finally:
        s.close()
    print(port)
    break
'
}

# listening HOST PORT: succeeds when HOST:PORT (an IPv4 or IPv6 address)
# accepts a connection.
listening() {
  case $1 in
    *:*) python3 -c 'import socket, sys; socket.create_connection((sys.argv[1], int(sys.argv[2])), 1)' \
      "$1" "$2" 2>/dev/null ;;
    *) (exec 3<>"/dev/tcp/$1/$2") 2>/dev/null ;;
  esac
}

# silent_listener_start PORT: a database host that hangs in the worst way, on
# 127.0.0.1:PORT: it accepts every connection, holds it and never answers.
# Returns once the port accepts (or fails after 5 s); silent_listener_stop
# ends it, and with it every connection it holds.
SILENT_LISTENER=
silent_listener_start() {
  python3 -c '
import socket, sys
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", int(sys.argv[1]))); s.listen(1024)
held = []
while True:
    held.append(s.accept()[0])
' "$1" &
  SILENT_LISTENER=$!
  local _
  for _ in $(seq 1 100); do
    if listening 127.0.0.1 "$1"; then return 0; fi
    sleep 0.05
  done
  echo "the silent listener did not start on $1" >&2
  return 1
}
silent_listener_stop() {
  if [ -n "$SILENT_LISTENER" ]; then
    kill "$SILENT_LISTENER" 2>/dev/null || true
    wait "$SILENT_LISTENER" 2>/dev/null || true
  fi
  SILENT_LISTENER=
}
