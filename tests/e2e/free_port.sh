# A free port below the kernel's ephemeral range, so that no outgoing
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
