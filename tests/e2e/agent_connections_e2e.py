#!/usr/bin/env python3
"""End to end: the real Corvane.exe holds more connections than it can have threads.

Every connection gets a client thread of its own; a 32-bit process under Wine
runs out of room for new threads (its stacks fill its address space) after a
few hundred. The driver opens connections as fast as the agent takes them and
keeps each one busy (a byte of a request every 100 ms, so that none is closed
for being idle) until the agent refuses one for want of a thread, then holds
them a moment longer. The agent must refuse what it cannot serve, keep
answering, and once the connections are gone be back to the threads it had
before.

A 64-bit process has room for far more threads than the driver could hold: there
the agent's process is given a limit of tasks (a pids control group) at about
the number the 32-bit agent reaches, and the driver says so; without a control
group to use, the 64-bit run is skipped.

Connections are opened in bursts, never more than BURST ahead of the threads the
agent has made, so that each round of bytes goes to the connections the agent
holds: on a busy machine a round over thousands of waiting connections takes
longer than the agent's idle time, and the agent then ends connections as fast
as it makes threads. The driver prints the longest pause between its rounds
and how many connections the agent ended, and says why when the limit was not
reached.
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

ROUND_SECONDS = 0.1         # a byte to every held connection this often
BURST = 32                  # connections opened ahead of the agent's threads
HOLD_SECONDS = 2.0          # held on after the first refusal
LIMIT_SECONDS = 90.0        # time to reach the agent's limit
TASKS_64 = 430              # the 64-bit agent's limit of tasks
SKIPPED = 77
REFUSAL = b"_beginthreadex(...) failure"

check = wine_agent.Checks()


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


class TaskLimit:
    """A pids control group around the process: at most `tasks` threads. Its
    `group` is None where no control group can be made."""

    def __init__(self, pid, tasks):
        self.group = None
        v1, v2 = "/sys/fs/cgroup/pids", "/sys/fs/cgroup"
        try:
            if os.path.exists(f"{v1}/cgroup.procs"):
                root = v1
            elif "pids" in open(f"{v2}/cgroup.controllers").read().split():
                root = v2
                with open(f"{v2}/cgroup.subtree_control", "w") as control:
                    control.write("+pids")
            else:
                return
            group = f"{root}/corvane-e2e-{pid}"
            os.mkdir(group)
        except OSError:
            return
        self.group = group
        try:
            with open(f"{group}/pids.max", "w") as limit:
                limit.write(str(tasks))
            with open(f"{group}/cgroup.procs", "w") as procs:
                procs.write(str(pid))
        except OSError:
            self.close()
            self.group = None

    def close(self):
        """Removes the group (empty once the process has ended)."""
        for _ in range(100):
            if not self.group:
                return
            try:
                os.rmdir(self.group)
                return
            except OSError:
                time.sleep(0.1)


class LogTail:
    """The agent's log lines written since the driver began to look."""

    def __init__(self, path):
        self.path = path
        self.offset = os.path.getsize(path) if os.path.exists(path) else 0
        self.text = b""

    def read(self):
        try:
            with open(self.path, "rb") as log:
                log.seek(self.offset)
                more = log.read()
        except FileNotFoundError:
            return self.text
        self.offset += len(more)
        self.text += more
        return self.text


def hold_connections(count, pid, log):
    """Opens up to `count` connections as the agent takes them and trickles a
    request into each, a byte every ROUND_SECONDS, until HOLD_SECONDS after the
    agent's first refusal (or LIMIT_SECONDS without one). Returns what was seen."""
    selector = selectors.DefaultSelector()
    request = b"GET /Corvane.html?callback=cb&id=88 HTTP/1.1\r\nX-Slow: " + b"a" * 4000
    sent = {}
    threads_before = threads_of(pid)
    seen = {"opened": 0, "ended": 0, "most_threads": threads_before, "refused": 0, "longest_pause": 0.0}

    def close(s, by_agent=True):
        if s in sent:
            del sent[s]
            selector.unregister(s)
            s.close()
            seen["ended"] += by_agent

    start = time.monotonic()
    until, next_round, last_round = start + LIMIT_SECONDS, start, start
    while time.monotonic() < until:
        now = time.monotonic()
        if now >= next_round:
            seen["longest_pause"] = max(seen["longest_pause"], now - last_round)
            last_round = now
            threads = threads_of(pid)
            seen["most_threads"] = max(seen["most_threads"], threads)
            seen["refused"] = log.read().count(REFUSAL)
            if seen["refused"] and until > now + HOLD_SECONDS:
                until = now + HOLD_SECONDS
            waiting = len(sent) - (threads - threads_before)
            while not seen["refused"] and waiting < BURST and seen["opened"] < count:
                s = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
                s.setblocking(False)
                if s.connect_ex(("127.0.0.1", 90)) not in (0, errno.EINPROGRESS):
                    s.close()
                    break
                sent[s] = 0
                selector.register(s, selectors.EVENT_READ)
                seen["opened"] += 1
                waiting += 1
            for s in list(sent):
                try:
                    sent[s] += s.send(request[sent[s]:sent[s] + 1])
                except (BlockingIOError, InterruptedError):
                    pass
                except OSError:
                    close(s)
            next_round = max(next_round + ROUND_SECONDS, now)
        for key, _ in selector.select(timeout=max(0.0, next_round - time.monotonic())):
            try:
                if key.fileobj.recv(4096) == b"":
                    close(key.fileobj)
            except (BlockingIOError, InterruptedError):
                pass
            except OSError:
                close(key.fileobj)
    seen["seconds"] = time.monotonic() - start
    for s in list(sent):
        close(s, by_agent=False)
    selector.close()
    seen["refused"] = log.read().count(REFUSAL)
    return seen


def main():
    exe = os.path.abspath(sys.argv[1])
    count = int(sys.argv[2]) if len(sys.argv) > 2 else 3000
    with wine_agent.Agent(exe) as agent:
        pid = agent.process.pid
        limit = None
        if not wine_agent.is_32_bit_program(exe):
            limit = TaskLimit(pid, TASKS_64)
            if not limit.group:
                print("skipped: the 64-bit agent has room for more threads than this test can hold, "
                      "and no pids control group could limit them here")
                return SKIPPED
            print(f"the 64-bit agent's process may have at most {TASKS_64} tasks ({limit.group})")
        try:
            check("the agent answers before", version_answer().endswith(b'"1.7.1.1"})'))
            time.sleep(1)  # the first connection's thread reaped
            threads_before = threads_of(pid)
            log = LogTail(agent.log_path)

            seen = hold_connections(count, pid, log)
            ended = seen["ended"] - seen["refused"]
            print(f"{seen['opened']} connections opened in {seen['seconds']:.1f} s; the agent had at most "
                  f"{seen['most_threads']} threads (before: {threads_before}), refused {seen['refused']}, "
                  f"and ended about {max(ended, 0)} others before the driver closed them; "
                  f"the longest pause between two rounds of bytes was {seen['longest_pause'] * 1000:.0f} ms")
            check("the agent ran out of threads and refused connections (the test reached the limit)",
                  seen["refused"] > 0,
                  "the limit was not reached: " + (
                      f"all {count} connections were taken" if seen["opened"] >= count else
                      f"the agent made too few threads in {LIMIT_SECONDS:.0f} s"))
            check("the agent is still running", agent.process.poll() is None)

            deadline = time.monotonic() + 30
            while threads_of(pid) > threads_before and time.monotonic() < deadline:
                time.sleep(0.2)
            threads_after = threads_of(pid)
            print(f"threads: {threads_before} before, {threads_after} after")
            check("no thread is left behind", threads_after <= threads_before, f"{threads_after} > {threads_before}")
            check("the agent answers id 88 afterwards", version_answer().endswith(b'"1.7.1.1"})'))
        finally:
            if limit:
                agent.stop()
                limit.close()
    return check.summary()


if __name__ == "__main__":
    sys.exit(main())
