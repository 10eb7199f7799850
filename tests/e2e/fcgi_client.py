#!/usr/bin/env python3
"""A minimal FastCGI client for the tests and the soak measurement.

  fcgi_client.py HOST:PORT COUNT PID [CHECKPOINT ...]

Sends COUNT requests, one connection each, cycling through a fixed mix (q=test,
a POST with a body, a request whose decoding fails, a body over the limit, and
the commands of $FCGI_MIX when set, as "q=..." query strings separated by
spaces). At each CHECKPOINT (a request count) prints "COUNT RSS-KiB FDS" for
process PID, read from /proc. Exits 1 on an answer that is not a CGI answer.
"""
import os
import socket
import struct
import sys
import time


def record(kind, content, request_id=1):
    return struct.pack(">BBHHBB", 1, kind, request_id, len(content), 0, 0) + content


def name_value(name, value):
    def length(n):
        return bytes([n]) if n < 128 else struct.pack(">I", n | 0x80000000)
    return length(len(name)) + length(len(value)) + name + value


def ask(address, params, body=b""):
    s = socket.create_connection(address)
    try:
        data = record(1, struct.pack(">HB5x", 1, 0))
        encoded = b"".join(name_value(k.encode(), v.encode()) for k, v in params.items())
        data += record(4, encoded) + record(4, b"")
        for i in range(0, len(body), 65535):
            data += record(5, body[i:i + 65535])
        data += record(5, b"")
        s.sendall(data)
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


def main():
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
