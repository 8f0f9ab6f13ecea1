#!/usr/bin/env python3
"""End to end: the real Corvane.exe under Wine against clients that pipeline
large requests on a kept-alive connection and do not read their answers.

A client that never reads and always sends must not grow the agent: the agent
keeps at most 64 KiB of unanswered requests per connection, stops reading
while an answer waits, and ends the stalled connection after its idle time.
Meanwhile and afterwards the agent answers id 88 on new connections, and a
client that reads late still gets every pipelined answer, in order.

The agent's memory is the resident size of its Wine process
(/proc/<pid>/status, VmRSS and its peak VmHWM).
usage: agent_pipeline_e2e.py Corvane.exe
"""
import os
import select
import socket
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_agent  # noqa: E402

PORT = 90
CALLBACK_BYTES = 60 * 1000      # each request's callback name
PIPELINED = 200                 # requests of the in-order client
FLOOD_SECONDS = 6.0             # how long the never-reading clients send
GROWTH_BOUND_KB = 16 * 1024     # the agent's memory may grow by at most this much
FLOOD_BYTES = 4 * GROWTH_BOUND_KB * 1024    # and how much they send at least
FLOOD_LIMIT_SECONDS = 30.0
STALL_SECONDS = 0.025           # a socket that takes nothing this long is stalled
VERSION_BODY = b'cb({"result":"1.7.1.1"})'

check = wine_agent.Checks()


def memory_kb(pid):
    """(VmRSS, VmHWM) of the process in kB."""
    fields = {}
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            key, _, value = line.partition(":")
            if key in ("VmRSS", "VmHWM"):
                fields[key] = int(value.split()[0])
    return fields["VmRSS"], fields["VmHWM"]


def callback_name(n):
    """A name of CALLBACK_BYTES letters and digits that starts with its number."""
    head = f"c{n:04d}_"
    return head + "x" * (CALLBACK_BYTES - len(head))


def pipelined_request(n):
    return (f"GET /Corvane.html?callback={callback_name(n)}&id=88 HTTP/1.1\r\n"
            "Host: 127.0.0.1\r\nConnection: Keep-Alive\r\n\r\n").encode()


def read_answers(s, count):
    """Reads up to `count` whole answers; returns their bodies (fewer when the
    connection ends first)."""
    bodies, pending = [], b""
    while len(bodies) < count:
        head = pending.find(b"\r\n\r\n")
        if head >= 0:
            at = pending.find(b"Content-Length: ", 0, head)
            length = int(pending[at + 16:pending.index(b"\r\n", at)]) if at >= 0 else 0
            if len(pending) >= head + 4 + length:
                bodies.append(pending[head + 4:head + 4 + length])
                pending = pending[head + 4 + length:]
                continue
        try:
            chunk = s.recv(1 << 20)
        except OSError:
            break
        if not chunk:
            break
        pending += chunk
    return bodies


def version_on_new_connection(timeout=5):
    """id 88 on a connection of its own: True when its answer came."""
    try:
        with socket.create_connection(("127.0.0.1", PORT), timeout=timeout) as s:
            s.sendall(b"GET /Corvane.html?callback=cb&id=88 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
            return read_answers(s, 1) == [VERSION_BODY]
    except OSError:
        return False


class Flood:
    """Clients that pipeline large requests and never read: each sends until the
    agent ends its connection (or its send makes no progress for 2 s), then the
    next one connects, for FLOOD_SECONDS and until they have sent FLOOD_BYTES (a
    busy machine sends less in that time), FLOOD_LIMIT_SECONDS at most."""

    def __init__(self):
        self.sent = 0
        self.connections = 0
        self.cut = 0          # connections the agent ended
        self.stop = threading.Event()
        self.thread = threading.Thread(target=self.run, daemon=True)

    def going(self):
        elapsed = time.monotonic() - self.start
        return (not self.stop.is_set() and elapsed < FLOOD_LIMIT_SECONDS and
                (elapsed < FLOOD_SECONDS or self.sent <= FLOOD_BYTES))

    def run(self):
        self.start = time.monotonic()
        n = 0
        while self.going():
            try:
                s = socket.create_connection(("127.0.0.1", PORT), timeout=2)
            except OSError:
                time.sleep(0.05)
                continue
            self.connections += 1
            with s:
                try:
                    while self.going():
                        s.sendall(pipelined_request(n))
                        self.sent += CALLBACK_BYTES
                        n += 1
                except socket.timeout:
                    pass
                except OSError:
                    self.cut += 1


def flood_phase(pid):
    rss_before, hwm_before = memory_kb(pid)
    flood = Flood()
    versions = []
    peak = rss_before
    flood.thread.start()
    next_version = time.monotonic()
    while flood.thread.is_alive():
        rss, hwm = memory_kb(pid)
        # The peak counts once it passes the peak of the start-up.
        peak = max(peak, rss, hwm if hwm > hwm_before else 0)
        if peak - rss_before > 4 * GROWTH_BOUND_KB:
            flood.stop.set()  # the agent would only grow on: no need to wait for its end
        if time.monotonic() >= next_version:
            versions.append(version_on_new_connection())
            next_version = time.monotonic() + 0.25
        time.sleep(0.05)
    flood.thread.join()
    alive = wine_agent.port_answers(PORT)
    print(f"flood: {flood.sent // 1000000} MB sent on {flood.connections} connections "
          f"({flood.cut} ended by the agent); resident {rss_before} kB before, peak {peak} kB, "
          f"growth {peak - rss_before} kB (bound {GROWTH_BOUND_KB} kB)")
    check("the never-reading clients sent far more than the agent may keep",
          flood.sent > FLOOD_BYTES, flood.sent)
    check("the agent ends connections that stall with unread answers", flood.cut > 0)
    check("the agent's memory stays within its bound while they send",
          peak - rss_before <= GROWTH_BOUND_KB, f"{peak - rss_before} kB")
    check("id 88 is answered on new connections meanwhile", versions and all(versions), versions)
    return alive


def send_until_stalled(s, stream, progress):
    """Sends `stream` without reading until the socket takes nothing for
    STALL_SECONDS (or an error ends it), counting in `progress`. The stall is
    the socket's own: a late wake-up of this process cannot fake one."""
    s.setblocking(False)
    try:
        while progress["sent"] < len(stream):
            try:
                progress["sent"] += s.send(stream[progress["sent"]:progress["sent"] + 16384])
            except BlockingIOError:
                if not select.select([], [s], [], STALL_SECONDS)[1]:
                    break
    except OSError as error:
        progress["error"] = error
    s.settimeout(10)


def in_order_phase():
    """One client pipelines PIPELINED requests, and an id 88 behind them, without
    reading until its sends stall, then reads: every answer comes, in order, and
    the connection stays for the request behind them."""
    # The requests are made before the connection, and the last one goes with
    # them: the agent ends a connection that stays silent for its idle time.
    stream = memoryview(b"".join(pipelined_request(n) for n in range(PIPELINED)) +
                        b"GET /Corvane.html?callback=cb&id=88 HTTP/1.1\r\nConnection: Keep-Alive\r\n\r\n")
    s = socket.create_connection(("127.0.0.1", PORT), timeout=10)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, 64 * 1024)
    progress = {"sent": 0, "error": None}
    send_until_stalled(s, stream, progress)
    stalled_at = progress["sent"] // len(pipelined_request(0))
    print(f"in order: the sender stalled after {stalled_at} of {PIPELINED} requests")

    def send_rest():
        try:
            if not progress["error"]:
                s.sendall(stream[progress["sent"]:])
        except OSError as error:
            progress["error"] = error

    # Reading begins at once, well within the agent's idle time; the rest of
    # the requests go out meanwhile.
    sender = threading.Thread(target=send_rest, daemon=True)
    sender.start()
    bodies = read_answers(s, PIPELINED + 1)
    sender.join(10)
    s.close()
    expected = [callback_name(n).encode() + b'({"result":"1.7.1.1"})' for n in range(PIPELINED)]
    check("a stalled sender was held back by the agent", stalled_at < PIPELINED, stalled_at)
    check("every pipelined request is answered once the client reads", len(bodies) >= PIPELINED,
          f"{len(bodies)} answers, sender stalled at {stalled_at}, {progress['error']}")
    check("the answers come in the order of the requests", bodies[:PIPELINED] == expected[:len(bodies)],
          [b[:6] for b in bodies[:3]])
    check("the connection is still kept alive afterwards (id 88 behind them is answered)",
          bodies[PIPELINED:] == [VERSION_BODY], f"{len(bodies)} answers")


def main():
    exe = os.path.abspath(sys.argv[1])
    with wine_agent.Agent(exe) as agent:
        pid = agent.process.pid
        with open(f"/proc/{pid}/status") as status:
            check("the agent's Wine process is found", "Corvane.exe" in status.readline())
        for _ in range(5):  # settle the first connections' memory
            version_on_new_connection()
        start = time.monotonic()
        alive = flood_phase(pid)
        check("the agent is still up after the flood", alive and agent.process.poll() is None,
              agent.process.poll())
        if alive:
            check("id 88 is answered on a new connection afterwards", version_on_new_connection())
            in_order_phase()
            check("and id 88 on a new connection after the late reader", version_on_new_connection())
            rss, hwm = memory_kb(pid)
            print(f"after both phases: resident {rss} kB, peak {hwm} kB; {time.monotonic() - start:.1f} s")
    return check.summary()


if __name__ == "__main__":
    sys.exit(main())
