#!/usr/bin/env python3
"""The four ways to run the program, one request after the other, in one run
(bench/windows/fastcgi.sh prepares the sites and servers and calls this):

  win-cgi    wine dorvana.exe once per request (a process per request, as IIS's
             CGI module runs it), with the forwarding fbclient.dll
  win-fcgi   one dorvana.exe started by tests/windows/launcher as IIS starts a
             FastCGI program; a pipe connection per request (timed inside wine)
  linux-cgi  build/dorvana once per request
  linux-fcgi build/dorvana --fastcgi 127.0.0.1:PORT --processes 1; a TCP
             connection per request from this script

Prints one line per command and variant: requests/s, median and p99 in ms.
"""
import json
import os
import socket
import struct
import subprocess
import sys
import time


def order_body(prefix):
    return ("<?xml version='1.0' encoding='windows-1251'?>\n<ORDER>\n<GUID>%s-########</GUID>\n"
            "<DEVICEID>HALL-1</DEVICEID>\n<PIN>1001</PIN>\n<TABLE>5</TABLE>\n<FOODS>\n"
            "<food>301<count>2</count><weight>0</weight><isModificator>no</isModificator></food>\n"
            "<food>1101<count>1</count><weight>500</weight><isModificator>N</isModificator></food>\n"
            "</FOODS>\n</ORDER>\n" % prefix).encode()


COMMANDS = {
    "q=test": ("GET", "q=test&a=1", None, b"param_count=2"),
    "getsprstewards": ("GET", "q=getsprstewards", None, b"<steward>"),
    "addorder": ("POST", "q=addorder", order_body, b"\r\n\r\nok"),
}


def cgi_env(method, query, body):
    env = {"SERVER_PROTOCOL": "HTTP/1.1", "REQUEST_METHOD": method, "QUERY_STRING": query}
    if body is not None:
        env["CONTENT_TYPE"] = "application/x-www-form-urlencoded"
        env["CONTENT_LENGTH"] = str(len(body))
    return env


def stats(ms, seconds):
    ms = sorted(ms)
    return {"rps": len(ms) / seconds, "p50": ms[len(ms) // 2], "p99": ms[int(len(ms) * 0.99)]}


def run_cgi(argv, cwd, extra_env, method, query, body_of, expect, n, prefix):
    ms = []
    start = time.perf_counter()
    for i in range(n):
        body = body_of(prefix).replace(b"########", b"%08d" % (i + 1)) if body_of else None
        env = dict(extra_env, **cgi_env(method, query, body))
        t0 = time.perf_counter()
        out = subprocess.run(argv, cwd=cwd, env=env, input=body or b"", stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, check=True).stdout
        ms.append((time.perf_counter() - t0) * 1000)
        if expect not in out:
            sys.exit("unexpected answer from %s: %r" % (argv[0], out[:300]))
    return stats(ms, time.perf_counter() - start)


def fcgi_records(params, body):
    def rec(t, content):
        return struct.pack(">BBHHBB", 1, t, 1, len(content), 0, 0) + content

    def length(n):
        return bytes([n]) if n < 128 else struct.pack(">I", n | 0x80000000)

    p = b"".join(length(len(k)) + length(len(v)) + k + v
                 for k, v in ((k.encode(), v.encode()) for k, v in params.items()))
    out = rec(1, struct.pack(">HB5x", 1, 0)) + rec(4, p) + rec(4, b"")
    for i in range(0, len(body), 65535):
        out += rec(5, body[i:i + 65535])
    return out + rec(5, b"")


def fcgi_exchange(port, data):
    s = socket.create_connection(("127.0.0.1", port))
    s.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    s.sendall(data)
    buf, out = b"", b""
    while True:
        chunk = s.recv(65536)
        if not chunk:
            break
        buf += chunk
        while len(buf) >= 8:
            _, t, _, n, pad = struct.unpack(">BBHHB", buf[:7])
            if len(buf) < 8 + n + pad:
                break
            if t == 6:
                out += buf[8:8 + n]
            if t == 3:
                s.close()
                return out
            buf = buf[8 + n + pad:]
    s.close()
    return out


def run_fcgi_tcp(port, method, query, body_of, expect, n, prefix):
    ms = []
    start = time.perf_counter()
    for i in range(n):
        body = body_of(prefix).replace(b"########", b"%08d" % (i + 1)) if body_of else b""
        data = fcgi_records(cgi_env(method, query, body if body_of else None), body)
        t0 = time.perf_counter()
        out = fcgi_exchange(port, data)
        ms.append((time.perf_counter() - t0) * 1000)
        if expect not in out:
            sys.exit("unexpected FastCGI answer: %r" % out[:300])
    return stats(ms, time.perf_counter() - start)


class Launcher:
    def __init__(self, wine, launcher, exe, cwd, scratch):
        self.scratch = scratch
        self.p = subprocess.Popen([wine, launcher, "Z:" + exe], cwd=cwd, stdin=subprocess.PIPE,
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)

    def ask(self, line):
        self.p.stdin.write((line + "\n").encode())
        self.p.stdin.flush()
        return self.p.stdout.readline().decode().strip()

    def run(self, method, query, body_of, expect, n, prefix):
        body = body_of(prefix) if body_of else b""
        env = cgi_env(method, query, body if body_of else None)
        envf, bodyf, outf = (os.path.join(self.scratch, x) for x in ("l.env", "l.body", "l.out"))
        with open(envf, "wb") as f:
            f.write(b"".join(("%s=%s" % kv).encode() + b"\0" for kv in env.items()))
        with open(bodyf, "wb") as f:
            f.write(body)
        if not body_of:  # one request first, to see its answer
            reply = self.ask("R Z:%s Z:%s Z:%s Z:%s.err" % (envf, bodyf, outf, outf))
            if expect not in open(outf, "rb").read():
                sys.exit("unexpected answer through the launcher: %s" % reply)
        f = self.ask("L %d Z:%s Z:%s" % (n, envf, bodyf)).split()
        if f[0] != "ok" or f[1] != f[2]:
            sys.exit("launcher: %s" % " ".join(f))
        return {"rps": float(f[12]), "p50": float(f[14]), "p99": float(f[16])}

    def close(self):
        print("launcher stop: %s" % self.ask("K"), file=sys.stderr)
        self.p.stdin.close()
        self.p.wait()


def main():
    cfg = json.loads(sys.argv[1])
    results = {}
    launcher = Launcher(cfg["wine"], cfg["launcher"], cfg["exe"], cfg["winsite"], cfg["scratch"])
    wine_env = {"WINEPREFIX": cfg["wineprefix"], "WINEDEBUG": "-all", "HOME": os.environ["HOME"],
                "PATH": "/usr/bin:/bin"}
    for name, (method, query, body_of, expect) in COMMANDS.items():
        ncgi, nfcgi = cfg["ncgi"], cfg["nfcgi"]
        results[name] = {
            "win-cgi": run_cgi([cfg["wine"], cfg["winsite"] + "/dorvana.exe"], cfg["winsite"],
                               wine_env, method, query, body_of, expect, ncgi, "wc"),
            "win-fcgi": launcher.run(method, query, body_of, expect, nfcgi, "wf"),
            "linux-cgi": run_cgi([cfg["linux"]], cfg["linuxsite"], {}, method, query, body_of,
                                 expect, ncgi * 3, "lc"),
            "linux-fcgi": run_fcgi_tcp(cfg["port"], method, query, body_of, expect, nfcgi, "lf"),
        }
        for variant, r in results[name].items():
            print("%-15s %-10s %8.1f req/s  p50 %7.2f ms  p99 %7.2f ms" %
                  (name, variant, r["rps"], r["p50"], r["p99"]), file=sys.stderr)
    launcher.close()
    print(json.dumps(results))


main()
