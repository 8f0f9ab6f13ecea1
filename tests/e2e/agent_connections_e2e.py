#!/usr/bin/env python3
"""End to end: the real Corvane.exe holds more connections than it can have threads.

Every connection gets a client thread of its own; a 32-bit process under Wine
runs out of room for new threads somewhere below two thousand. The driver opens
3,000 connections and keeps each one busy (a byte of a request every 100 ms, so
that none is closed for being idle) until all have been taken or refused. The
agent must refuse what it cannot serve, keep answering, and once the
connections are gone be back to the threads it had before.
usage: agent_connections_e2e.py Corvane.exe [connections]
"""
import errno
import os
import selectors
import socket
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import wine_agent  # noqa: E402

failures = []


def check(name, ok, detail=""):
    print(("ok: " if ok else "FAILED: ") + name + ("" if ok else f" {detail}"))
    if not ok:
        failures.append(name)


def threads_of(pid):
    return len(os.listdir(f"/proc/{pid}/task"))


def version_answer():
    """The body of id 88's answer on a new connection, or the error."""
    try:
        with socket.create_connection(("127.0.0.1", 90), timeout=10) as s:
            s.sendall(b"GET /Corvane.html?callback=cb&id=88 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
            answer = b""
            while not answer.endswith(b'cb({"result":"1.7.1.1"})'):
                chunk = s.recv(4096)
                if not chunk:
                    break
                answer += chunk
            return answer.rsplit(b"\r\n\r\n", 1)[-1]
    except OSError as e:
        return f"error: {e}".encode()


def hold_connections(count, seconds, pid):
    """Opens `count` connections and trickles a request into each, a byte every
    100 ms, for `seconds`. Returns how many the agent closed and the most
    threads the agent had meanwhile."""
    selector = selectors.DefaultSelector()
    sockets = []
    for _ in range(count):
        s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        s.setblocking(False)
        if s.connect_ex(("127.0.0.1", 90)) not in (0, errno.EINPROGRESS):
            s.close()
            continue
        sockets.append(s)
        selector.register(s, selectors.EVENT_READ)
    request = b"GET /Corvane.html?callback=cb&id=88 HTTP/1.1\r\nX-Slow: " + b"a" * 4000
    sent = {s: 0 for s in sockets}
    open_sockets = set(sockets)
    most_threads = 0

    def close(s):
        if s in open_sockets:
            open_sockets.discard(s)
            selector.unregister(s)

    now = time.monotonic()
    until, next_round = now + seconds, now
    while now < until:
        if now >= next_round:
            for s in list(open_sockets):
                try:
                    sent[s] += s.send(request[sent[s]:sent[s] + 1])
                except (BlockingIOError, InterruptedError):
                    pass
                except OSError:
                    close(s)
            most_threads = max(most_threads, threads_of(pid))
            next_round += 0.1
        for key, _ in selector.select(timeout=max(0.0, next_round - time.monotonic())):
            try:
                if key.fileobj.recv(4096) == b"":
                    close(key.fileobj)
            except (BlockingIOError, InterruptedError):
                pass
            except OSError:
                close(key.fileobj)
        now = time.monotonic()
    closed = len(sockets) - len(open_sockets)
    for s in sockets:
        s.close()
    selector.close()
    return len(sockets), closed, most_threads


def main():
    exe = os.path.abspath(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 3000
    with wine_agent.Agent(exe) as agent:
        pid = agent.process.pid
        check("the agent answers before", version_answer().endswith(b'"1.7.1.1"})'))
        time.sleep(1)  # the first connection's thread reaped
        threads_before = threads_of(pid)
        log_before = len(agent.read_log())

        opened, closed, most_threads = hold_connections(count, 15, pid)
        print(f"{opened} connections held for 15 s: {closed} closed by the agent; "
              f"the agent had at most {most_threads} threads (before: {threads_before})")
        log = agent.read_log()[log_before:]
        refused = log.count(b"_beginthreadex(...) failure")
        print(f"client threads that could not be made: {refused}")
        check("the agent ran out of threads and refused connections (the test reached the limit)", refused > 0)
        check("the agent is still running", agent.process.poll() is None)

        deadline = time.monotonic() + 30
        while threads_of(pid) > threads_before and time.monotonic() < deadline:
            time.sleep(0.2)
        threads_after = threads_of(pid)
        print(f"threads: {threads_before} before, {threads_after} after")
        check("no thread is left behind", threads_after <= threads_before, f"{threads_after} > {threads_before}")
        check("the agent answers id 88 afterwards", version_answer().endswith(b'"1.7.1.1"})'))
    print(f"{len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
