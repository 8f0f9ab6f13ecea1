#!/usr/bin/env python3
"""Measures the agent under Wine and prints one table row per run.

Kept-alive connections are driven by wrk. For a new connection per request the
agent closes each connection after its answer while its header still says
Keep-Alive (as the page expects), which wrk counts as read errors; those runs
use a small client of our own that opens, asks, reads the whole answer and
checks it.
"""
import os
import re
import socket
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_agent  # noqa: E402

URL = "http://127.0.0.1:90/Corvane.html?callback=cb&id=88"


def to_ms(text):
    value, unit = re.fullmatch(r"([\d.]+)(us|ms|s)", text).groups()
    return float(value) * {"us": 0.001, "ms": 1.0, "s": 1000.0}[unit]


REQUEST = b"GET /Corvane.html?callback=cb&id=88 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n"
BODY = b'cb({"result":"1.7.1.1"})'


def one_request():
    """One request on its own connection; True when the whole answer came."""
    with socket.create_connection(("127.0.0.1", 90), timeout=10) as s:
        s.sendall(REQUEST)
        data = b""
        while True:
            chunk = s.recv(4096)
            if not chunk:
                break
            data += chunk
            if data.endswith(BODY):
                break
    return data.startswith(b"HTTP/1.1 200 OK") and data.endswith(BODY)


def run_new_connections(clients, seconds):
    latencies, failures = [], [0]
    lock = threading.Lock()
    until = time.monotonic() + seconds

    def worker():
        while time.monotonic() < until:
            start = time.monotonic()
            try:
                ok = one_request()
            except OSError:
                ok = False
            elapsed = (time.monotonic() - start) * 1000
            with lock:
                if ok:
                    latencies.append(elapsed)
                else:
                    failures[0] += 1

    threads = [threading.Thread(target=worker) for _ in range(clients)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    latencies.sort()
    p99 = latencies[min(len(latencies) - 1, int(len(latencies) * 0.99))]
    unanswered = [f"{failures[0]} requests unanswered"] if failures[0] else []
    return statistics.median(latencies), p99, len(latencies) / seconds, len(latencies), unanswered


def run(clients, keep_alive, seconds):
    if not keep_alive:
        return run_new_connections(clients, seconds)
    out = subprocess.run(["wrk", "-t", str(min(clients, 4)), "-c", str(clients), "-d", f"{seconds}s",
                          "--latency", "-H", "Connection: Keep-Alive", URL],
                         capture_output=True, text=True, check=True).stdout
    latency = dict(re.findall(r"^\s+(50|99)%\s+(\S+)$", out, re.M))
    rate = float(re.search(r"Requests/sec:\s+([\d.]+)", out).group(1))
    total = int(re.search(r"(\d+) requests in", out).group(1))
    errors = re.search(r"Socket errors: (.*)", out)
    non2xx = re.search(r"Non-2xx or 3xx responses: (\d+)", out)
    unanswered = []
    if errors:
        unanswered.append("socket errors: " + errors.group(1))
    if non2xx:
        unanswered.append(non2xx.group(1) + " non-2xx answers")
    return to_ms(latency["50"]), to_ms(latency["99"]), rate, total, unanswered


def main():
    exe, seconds = sys.argv[1], int(sys.argv[2])
    failed = False
    with wine_agent.Agent(exe):
        print(f"| clients | connections | median ms | p99 ms | requests/s | requests |")
        print(f"|---|---|---|---|---|---|")
        for clients in (1, 50):
            for keep_alive in (True, False):
                median, p99, rate, total, unanswered = run(clients, keep_alive, seconds)
                kind = "kept alive" if keep_alive else "new each request"
                print(f"| {clients} | {kind} | {median:.2f} | {p99:.2f} | {rate:.0f} | {total} |")
                if unanswered:
                    failed = True
                    print("  unanswered: " + "; ".join(unanswered))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
