#!/usr/bin/env python3
"""Writes the FastCGI section of bench/RESULTS.md from bench/fastcgi/run's raw
figures, or merges such a section into RESULTS.md.

  report.py --work DIR [--program P] [--cgi-program P] [--args A] [--duration S]
            [--rounds N] [--warmup S] [--processes N] [--conns LIST] [--commit C]
  report.py --merge RESULTS.md SECTION.md

The section sits between two marker lines, so that it can be replaced by the
next run and carried over when bench/run writes the rest of the file."""
import argparse
import os
import platform
import re
import subprocess
import sys
from datetime import datetime, timezone

BEGIN = "<!-- fastcgi-bench: begin -->"
END = "<!-- fastcgi-bench: end -->"

LABELS = {
    "cgi_floor": "C CGI floor",
    "cgi_program": "program, CGI",
    "pfloor_1": "persistent floor, 1 process",
    "pfloor_N": "persistent floor, N processes",
    "program_1": "program FastCGI, 1 process",
    "program_N": "program FastCGI, N processes",
    "php_1": "PHP FastCGI, 1 child",
    "php_N": "PHP FastCGI, N children",
}
# The reference with the same process model.
PEER = {"cgi_program": "cgi_floor", "program_1": "pfloor_1", "program_N": "pfloor_N",
        "php_1": "pfloor_1", "php_N": "pfloor_N"}
ORDER = list(LABELS)


def merge(results, section):
    text = open(section, encoding="utf-8").read().strip("\n")
    block = BEGIN + "\n" + text + "\n" + END + "\n"
    try:
        old = open(results, encoding="utf-8").read()
    except FileNotFoundError:
        old = ""
    if BEGIN in old and END in old:
        head, rest = old.split(BEGIN, 1)
        tail = rest.split(END, 1)[1].lstrip("\n")
        new = head + block + ("\n" + tail if tail else "")
    else:
        new = old.rstrip("\n") + ("\n\n" if old else "") + block
    with open(results, "w", encoding="utf-8") as f:
        f.write(new)


def read_tsv(path):
    with open(path, encoding="utf-8") as f:
        lines = [l.rstrip("\n").split("\t") for l in f if l.strip()]
    head = lines[0]
    return [dict(zip(head, l)) for l in lines[1:]]


def fmt(v, d=1):
    if v is None:
        return "-"
    if v >= 100 and d <= 1:
        return f"{v:,.0f}"
    return f"{v:,.{d}f}"


def main():
    ap = argparse.ArgumentParser()
    ap.add_argument("--merge", nargs=2)
    ap.add_argument("--work")
    ap.add_argument("--program", default="")
    ap.add_argument("--cgi-program", default="")
    ap.add_argument("--args", default="")
    ap.add_argument("--duration", default="")
    ap.add_argument("--rounds", default="")
    ap.add_argument("--warmup", default="")
    ap.add_argument("--processes", default="")
    ap.add_argument("--conns", default="1 2 4 8")
    ap.add_argument("--commit", default=os.environ.get("BENCH_PROGRAM_COMMIT", ""))
    a = ap.parse_args()
    if a.merge:
        merge(*a.merge)
        return
    work = a.work
    rounds = read_tsv(os.path.join(work, "raw", "rounds.tsv"))
    orders = read_tsv(os.path.join(work, "raw", "orders.tsv"))
    conns = [int(c) for c in a.conns.split()]
    hi = max(conns)
    n = a.processes

    # Best of the rounds (by requests per second) per point; the highest max
    # latency of all its rounds; bad answers and errors of all rounds.
    best = {}
    for r in rounds:
        key = (r["command"], int(r["conns"]), r["variant"])
        rec = {k: float(r[k]) for k in ("rps", "p50_ms", "p99_ms", "max_ms", "db_ms", "app_ms", "web_ms")}
        rec["bad"] = int(r["bad"]) + int(r["errors"])
        rec["requests"] = int(r["requests"])
        cur = best.get(key)
        if cur is None:
            rec["max_all"] = rec["max_ms"]
            rec["bad_all"] = rec["bad"]
            rec["n"] = 1
            best[key] = rec
        else:
            rec["max_all"] = max(cur["max_all"], rec["max_ms"])
            rec["bad_all"] = cur["bad_all"] + rec["bad"]
            rec["n"] = cur["n"] + 1
            if rec["rps"] > cur["rps"]:
                best[key] = rec
            else:
                cur["max_all"], cur["bad_all"], cur["n"] = rec["max_all"], rec["bad_all"], rec["n"]
    commands = []
    for r in rounds:
        if r["command"] not in commands:
            commands.append(r["command"])

    def get(cmd, c, v):
        return best.get((cmd, c, v))

    def ratio(x, y):
        return x / y if x is not None and y else None

    out = []
    w = out.append
    now = datetime.now(timezone.utc).strftime("%Y-%m-%d %H:%M UTC")
    w("## Persistent mode: FastCGI against CGI")
    w("")
    w("Written by `bench/fastcgi/run`. Every variant runs behind a lighttpd of its own on")
    w("127.0.0.1, on the benchmark database (bench/db/make-bench-db.sh) on the Firebird")
    w("server. `C CGI floor` and `program, CGI` run under mod_cgi; the FastCGI")
    w("variants under mod_fastcgi, each a server started with a listening TCP port whose")
    w(f"parent pre-forks its processes (N = {n}) on that one socket:")
    w("")
    w("- `persistent floor` (bench/floor/floor_fcgi.c): libfcgi, one kept attachment and")
    w("  kept prepared statements, the settings file read per request, nothing else: the")
    w("  limit for one process;")
    w("- `program FastCGI`: the program as `dorvana --fastcgi 127.0.0.1:PORT --processes N`;")
    w("- `PHP FastCGI` (bench/php/dorvana.php): `php-cgi -b` with PHP_FCGI_CHILDREN")
    w("  children, PDO Firebird with persistent connections.")
    w("")
    w(f"- Date: {now}")
    try:
        cpu = [l.split(":", 1)[1].strip() for l in open("/proc/cpuinfo") if l.startswith("model name")]
        w(f"- Machine: {cpu[0] if cpu else '?'}, {os.cpu_count()} cores, kernel {platform.release()}; "
          "shared with other engineers' builds: compare only figures of the same run")
    except OSError:
        pass
    w(f"- FastCGI program: `{a.program}`" + (f" at commit {a.commit}" if a.commit else ""))
    w(f"- CGI program: `{a.cgi_program}`")
    w(f"- Command: `bench/fastcgi/run {a.args}`".rstrip() + f"; per point {a.rounds} wrk runs of {a.duration} s per "
      f"variant in turn (the first rotating), after a {a.warmup} s warm-up per command and variant at {hi} "
      "connections; the best run by requests/s counts")
    loads = []
    try:
        for l in open(os.path.join(work, "raw", "load.txt")):
            p = l.split()
            loads.append((p[0], float(p[1]), float(p[2]), float(p[3])))
    except (OSError, IndexError, ValueError):
        pass
    if loads:
        one = [x[1] for x in loads]
        w(f"- Load average (1/5/15 min): {loads[0][1]} {loads[0][2]} {loads[0][3]} at the start "
          f"({loads[0][0]}), {loads[-1][1]} {loads[-1][2]} {loads[-1][3]} at the end ({loads[-1][0]}); "
          f"1-min mean {sum(one) / len(one):.2f}, max {max(one):.2f} over {len(one)} samples")
    w("")

    w("### Answers")
    w("")
    w("Status, content type, content length and body through lighttpd, against the CGI")
    w("program's. `spawned`: the persistent floor and the program started by lighttpd")
    w("itself (mod_fastcgi `bin-path`, a listening socket as standard input). `test_post`")
    w("posts a body to q=test; `addorder_stopped` is an order the database refuses (an")
    w("item on the stop list), answered with the business message.")
    w("")
    w("| Request | Bytes | C CGI floor | persistent floor 1 | N | program FastCGI 1 | N | PHP 1 | PHP N "
      "| floor spawned | program spawned |")
    w("|---|---|---|---|---|---|---|---|---|---|---|")
    try:
        for l in open(os.path.join(work, "raw", "equal.md"), encoding="utf-8"):
            w(l.rstrip("\n"))
    except OSError:
        w("| (no check ran) |")
    w("")

    w("### Throughput and latency")
    w("")
    w("Requests/s and latency in ms of the best run. Max: the highest latency of all the")
    w("point's runs. `×CGI floor`: requests/s over the C CGI floor's at the same connections;")
    w("`×floor`: over the reference with the same process model (the persistent floor with")
    w("as many processes; for the CGI program the CGI floor). CPU ms per request, from")
    w("/proc over the best run: `db` the Firebird server, `own` the variant's processes (for")
    w("CGI its ended children, reaped by lighttpd), `web` lighttpd. Bad: wrong answers and")
    w("socket errors over all runs.")
    w("")
    for cmd in commands:
        w(f"#### {cmd}")
        w("")
        w("| Conns | Variant | req/s | p50 | p99 | max | ×CGI floor | ×floor | CPU ms db / own / web | bad |")
        w("|---|---|---|---|---|---|---|---|---|---|")
        for c in conns:
            for v in ORDER:
                b = get(cmd, c, v)
                if not b:
                    continue
                cf = get(cmd, c, "cgi_floor")
                peer = get(cmd, c, PEER[v]) if v in PEER else None
                vs_cgi = ratio(b["rps"], cf["rps"] if cf else None) if v != "cgi_floor" else None
                vs_peer = ratio(b["rps"], peer["rps"] if peer else None)
                w(f"| {c} | {LABELS[v].replace('N ', n + ' ') if n else LABELS[v]} | {fmt(b['rps'])} | "
                  f"{fmt(b['p50_ms'], 2)} | {fmt(b['p99_ms'], 2)} | {fmt(b['max_all'], 1)} | "
                  f"{fmt(vs_cgi, 1) if vs_cgi else '-'} | {fmt(vs_peer, 2) if vs_peer else '-'} | "
                  f"{b['db_ms']:.2f} / {b['app_ms']:.2f} / {b['web_ms']:.2f} | {b['bad_all']} |")
        w("")

    w("### Orders")
    w("")
    w("Every order answered \"ok\" against the database, from a second connection: in the")
    w("database once, with its ten rows and one imported order. \"Unanswered but in")
    w("database\": orders still in flight when a wrk run ended (wrk drops their answers), at")
    w("most one per connection and run.")
    w("")
    w("| Variant | Conns | Answered ok | In database | Missing | Doubled | Half | Unanswered but in database |")
    w("|---|---|---|---|---|---|---|---|")
    lost = 0
    for o in orders:
        w(f"| {LABELS.get(o['variant'], o['variant']).replace('N ', n + ' ')} | {o['conns']} | {o['answered_ok']} | {o['in_db']} | "
          f"{o['missing']} | {o['doubled']} | {o['half']} | {o['unanswered']} |")
        lost += int(o["missing"]) + int(o["doubled"]) + int(o["half"])
    w("")

    prof = os.path.join(work, "profile", "instructions.tsv")
    if os.path.exists(prof):
        rows = read_tsv(prof)
        ir = {(r["command"], r["variant"]): int(r["instructions_per_request"]) for r in rows}
        w("### Instructions per request")
        w("")
        w("Client-side instructions of one FastCGI process per request, counted by callgrind")
        w("past a warm-up (bench/fastcgi/profile.sh: requests straight to the process with")
        w("cgi-fcgi, no web server). Stable on a busy machine, where times are not. The")
        w("program's functions by inclusive cost: build-bench/fastcgi-run/profile/top-COMMAND.txt.")
        w("")
        w("| Command | persistent floor | program | program / floor |")
        w("|---|---|---|---|")
        for cmd in commands or sorted({k[0] for k in ir}):
            f, p = ir.get((cmd, "floor")), ir.get((cmd, "program"))
            if f is None or p is None:
                continue
            w(f"| {cmd} | {f:,} | {p:,} | {p / f:.2f} |" if f else f"| {cmd} | {f:,} | {p:,} | - |")
        w("")

    w("### Targets")
    w("")
    w("| Target | Figures | Met |")
    w("|---|---|---|")

    def verdict(ok):
        return "yes" if ok else "**no**"

    lo = min(conns)
    for cmd in commands:
        p, f, ph = get(cmd, lo, "program_1"), get(cmd, lo, "pfloor_1"), get(cmd, lo, "php_1")
        if p and f:
            r = p["rps"] / f["rps"]
            w(f"| {cmd}, {lo} conn, 1 process: ≥ 0.85 of the persistent floor | {fmt(p['rps'])} / {fmt(f['rps'])} "
              f"= {r:.2f} | {verdict(r >= 0.85)} |")
        if p and ph:
            w(f"| {cmd}, {lo} conn, 1 process: ahead of PHP | {fmt(p['rps'])} against {fmt(ph['rps'])} "
              f"({p['rps'] / ph['rps']:.2f}×) | {verdict(p['rps'] > ph['rps'])} |")
    for cmd in commands:
        p, f = get(cmd, hi, "program_N"), get(cmd, hi, "pfloor_N")
        if p and f:
            r = p["rps"] / f["rps"]
            w(f"| {cmd}, {hi} conns, {n} processes: ≥ 0.85 of {n} floor processes | {fmt(p['rps'])} / "
              f"{fmt(f['rps'])} = {r:.2f} | {verdict(r >= 0.85)} |")
    for cmd, want in (("test", 20), ("getsprfoodgroup", 5), ("getsprstewards", 5)):
        if cmd not in commands:
            continue
        for c, v in ((lo, "program_1"), (hi, "program_N")):
            p, cf = get(cmd, c, v), get(cmd, c, "cgi_floor")
            if p and cf:
                r = p["rps"] / cf["rps"]
                w(f"| {cmd}, {c} conn{'s' if c > 1 else ''}, {v.replace('_N', ' ' + n).replace('_1', ' 1')}: "
                  f"≥ {want}× the CGI floor | {fmt(p['rps'])} / {fmt(cf['rps'])} = {r:.1f}× | {verdict(r >= want)} |")
    for cmd in commands:
        p, f = get(cmd, hi, "program_N"), get(cmd, hi, "pfloor_N")
        if p:
            w(f"| {cmd}, {hi} conns: max latency < 500 ms | {fmt(p['max_all'], 1)} ms | {verdict(p['max_all'] < 500)} |")
        if p and f:
            r = p["p99_ms"] / f["p99_ms"] if f["p99_ms"] else 0
            w(f"| {cmd}, {hi} conns: p99 ≤ 1.2× the floor's ({n} processes) | {fmt(p['p99_ms'], 2)} / "
              f"{fmt(f['p99_ms'], 2)} ms = {r:.2f} | {verdict(r <= 1.2)} |")
    prog_orders = [o for o in orders if o["variant"].startswith("program")]
    if prog_orders:
        pl = sum(int(o["missing"]) + int(o["doubled"]) + int(o["half"]) for o in prog_orders)
        w(f"| 0 orders lost, doubled or half-imported (program) | {pl} over "
          f"{sum(int(o['answered_ok']) for o in prog_orders)} orders | {verdict(pl == 0)} |")
    bad = sum(b["bad_all"] for k, b in best.items() if k[2].startswith("program"))
    w(f"| Every answer of the program right (wrk checks) | {bad} bad or failed | {verdict(bad == 0)} |")
    w("")
    # The reading of the figures is kept by hand beside this script.
    analysis = os.path.join(os.path.dirname(os.path.abspath(__file__)), "ANALYSIS.md")
    if os.path.exists(analysis):
        w(open(analysis, encoding="utf-8").read().strip("\n"))
        w("")
    sys.stdout.write("\n".join(out) + "\n")


if __name__ == "__main__":
    main()
