#!/usr/bin/env python3
"""A minimal FastCGI client for the tests and the soak measurement.

  fcgi_client.py HOST:PORT COUNT PID [CHECKPOINT ...]
  fcgi_client.py slow ADDRESS CONNECTIONS SECONDS
  fcgi_client.py ask ADDRESS

Sends COUNT requests, one connection each, cycling through a fixed mix (q=test,
a POST with a body, a request whose decoding fails, a body over the limit, and
the commands of $FCGI_MIX when set, as "q=..." query strings separated by
spaces). At each CHECKPOINT (a request count) prints "COUNT RSS-KiB FDS" for
process PID, read from /proc. Exits 1 on an answer that is not a CGI answer.

"slow" keeps CONNECTIONS slow clients on ADDRESS (HOST:PORT or a socket's path)
for SECONDS, each reopening its connection when the server closes it: idle ones,
ones sending a byte every 0.3 s, half a record header, a whole request but the
end of its body, or a request the library refuses followed by a byte every 0.3 s. Meanwhile it asks q=test in turn and prints the slowest answer's time.
"ask" asks q=test once and prints the answer's first line ("none" if none).
"""
import os
import socket
import struct
import sys
import threading
import time


def record(kind, content, request_id=1):
    return struct.pack(">BBHHBB", 1, kind, request_id, len(content), 0, 0) + content


def name_value(name, value):
    def length(n):
        return bytes([n]) if n < 128 else struct.pack(">I", n | 0x80000000)
    return length(len(name)) + length(len(value)) + name + value


def connect(address):
    if isinstance(address, str):
        s = socket.socket(socket.AF_UNIX)
        s.connect(address)
        return s
    return socket.create_connection(address)


def request_bytes(params, body=b""):
    data = record(1, struct.pack(">HB5x", 1, 0))
    encoded = b"".join(name_value(k.encode(), v.encode()) for k, v in params.items())
    data += record(4, encoded) + record(4, b"")
    for i in range(0, len(body), 65535):
        data += record(5, body[i:i + 65535])
    return data + record(5, b"")


def ask(address, params, body=b""):
    s = connect(address)
    try:
        s.sendall(request_bytes(params, body))
        out = b""
        buffer = b""
        while True:
            chunk = s.recv(65536)
            if not chunk:
                break
            buffer += chunk
            while len(buffer) >= 8:
                _, kind, _, size, padding, _ = struct.unpack(">BBHHBB", buffer[:8])
                if len(buffer) < 8 + size + padding:
                    break
                if kind == 6:
                    out += buffer[8:8 + size]
                buffer = buffer[8 + size + padding:]
                if kind == 3:
                    return out
        return out
    finally:
        s.close()


def usage(pid):
    rss = 0
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
    return rss, len(os.listdir(f"/proc/{pid}/fd"))


def slow(address, connections, seconds):
    end = time.time() + seconds
    post = {"REQUEST_METHOD": "POST", "QUERY_STRING": "q=test", "CONTENT_LENGTH": "5"}
    whole = request_bytes(post, b"x=1&y")
    refused = record(1, struct.pack(">HB5x", 99, 0)) + record(4, b"") + record(5, b"")
    # idle, trickled, half a header, no end of body, a request refused and more bytes
    kinds = [b"", whole, whole[:4], whole[:-13], refused]

    def client(n):
        data = kinds[n % len(kinds)]
        while time.time() < end:
            try:
                s = connect(address)
                if data is whole:  # a byte every 0.3 s
                    for i in range(len(data)):
                        s.send(data[i:i + 1])
                        time.sleep(0.3)
                else:
                    s.send(data)
                while data is refused and time.time() < end:
                    s.send(b"x")
                    time.sleep(0.3)
                while time.time() < end and s.recv(1 << 16):
                    pass  # until the server closes
                s.close()
            except OSError:
                time.sleep(0.05)

    threads = [threading.Thread(target=client, args=(n,), daemon=True) for n in range(connections)]
    for t in threads:
        t.start()
    time.sleep(0.5)
    slowest = 0.0
    while time.time() < end - 0.5:
        start = time.time()
        answer = ask(address, {"SERVER_PROTOCOL": "HTTP/1.1", "REQUEST_METHOD": "GET",
                               "QUERY_STRING": "q=test"})
        if not answer.startswith(b"Status: 200"):
            print(f"not answered: {answer[:200]!r}", file=sys.stderr)
            sys.exit(1)
        slowest = max(slowest, time.time() - start)
        time.sleep(0.3)
    print(f"{slowest:.2f}")


def main():
    if sys.argv[1] in ("slow", "ask"):
        target = sys.argv[2]
        if "/" not in target:
            host, port = target.rsplit(":", 1)
            target = (host.strip("[]"), int(port))
        if sys.argv[1] == "slow":
            slow(target, int(sys.argv[3]), float(sys.argv[4]))
            return
        try:
            answer = ask(target, {"SERVER_PROTOCOL": "HTTP/1.1", "REQUEST_METHOD": "GET",
                                  "QUERY_STRING": "q=test"})
        except OSError:
            answer = b""
        print(answer.split(b"\r\n")[0].decode() or "none")
        return
    host, port = sys.argv[1].rsplit(":", 1)
    count, pid = int(sys.argv[2]), int(sys.argv[3])
    checkpoints = {int(c) for c in sys.argv[4:]}
    base = {"SERVER_PROTOCOL": "HTTP/1.1", "REQUEST_METHOD": "GET"}
    mix = [
        ({"QUERY_STRING": "q=test&a=1"}, b""),
        ({"REQUEST_METHOD": "POST", "QUERY_STRING": "q=test", "CONTENT_LENGTH": "11"}, b"x=1&y=%41+b"),
        ({"PATH_INFO": "/x", "QUERY_STRING": "q=test&a=%zz"}, b""),
        ({"REQUEST_METHOD": "POST", "QUERY_STRING": "q=addorder", "CONTENT_LENGTH": "16777217"}, b""),
    ]
    for query in os.environ.get("FCGI_MIX", "").split():
        mix.append(({"QUERY_STRING": query}, b""))
    for n in range(1, count + 1):
        params, body = mix[n % len(mix)]
        answer = ask((host, int(port)), {**base, **params}, body)
        if not answer.startswith(b"Status: "):
            print(f"request {n}: not a CGI answer: {answer[:200]!r}", file=sys.stderr)
            sys.exit(1)
        if n in checkpoints:
            time.sleep(0.1)  # the server closes the request's connection after answering
            rss, fds = usage(pid)
            print(n, rss, fds, flush=True)


if __name__ == "__main__":
    main()
