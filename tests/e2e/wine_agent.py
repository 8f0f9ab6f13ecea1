"""Starts a Corvane.exe build under Wine for a test and ends it afterwards."""
import os
import socket
import subprocess
import time

ROOT = os.path.abspath(os.path.join(os.path.dirname(__file__), "..", ".."))


def wine_environment():
    """The environment scripts/wine-env.sh sets up (the prefix made once);
    what the set-up says goes to the driver's output."""
    out = subprocess.run(["bash", "-c", f". '{ROOT}/scripts/wine-env.sh' && env -0"],
                         stdout=subprocess.PIPE, check=True).stdout
    return dict(item.split("=", 1) for item in out.decode().split("\0") if "=" in item)


class Checks:
    """A driver's named checks: `check(name, ok, detail)` prints each one and
    counts it; `summary()` prints the count and gives the exit code."""

    def __init__(self):
        self.passed = 0
        self.failures = []

    def __call__(self, name, ok, detail=""):
        if ok:
            self.passed += 1
            print(f"ok: {name}")
        else:
            self.failures.append(name)
            print(f"FAILED: {name} {detail}")

    def summary(self):
        print(f"{self.passed} passed, {len(self.failures)} failed")
        return 1 if self.failures else 0


def is_32_bit_program(path):
    """Whether a Windows program is a 32-bit one (its PE header names an i386 machine)."""
    with open(path, "rb") as f:
        head = f.read(4096)
    pe = int.from_bytes(head[0x3C:0x40], "little")
    assert head[pe:pe + 4] == b"PE\0\0", f"{path} is no Windows program"
    return int.from_bytes(head[pe + 4:pe + 6], "little") == 0x14C


def port_answers(port, host="127.0.0.1"):
    try:
        with socket.create_connection((host, port), timeout=0.5):
            return True
    except OSError:
        return False


class Agent:
    """`with Agent(exe) as agent:` runs the agent until the block ends."""

    def __init__(self, exe, port=90, start_timeout=90):
        self.exe = exe
        self.port = port
        self.start_timeout = start_timeout
        self.env = wine_environment()
        self.process = None

    @property
    def log_path(self):
        return os.path.join(self.env["WINEPREFIX"], "drive_c", "windows", "VURovivu.log")

    def read_log(self):
        try:
            with open(self.log_path, "rb") as f:
                return f.read()
        except FileNotFoundError:
            return b""

    def _wait_port_free(self, seconds):
        # The Wine server holds a killed program's sockets for a moment.
        until = time.time() + seconds
        while port_answers(self.port) and time.time() < until:
            time.sleep(0.1)

    def __enter__(self):
        self._wait_port_free(10)
        if port_answers(self.port):
            raise RuntimeError(f"port {self.port} is already taken: stop the other agent first")
        self.process = subprocess.Popen([self.env["WINELOADER"], self.exe], env=self.env,
                                        cwd=os.path.dirname(self.exe),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        until = time.time() + self.start_timeout
        while not port_answers(self.port):
            if self.process.poll() is not None:
                raise RuntimeError(f"the agent ended at start with code {self.process.returncode}")
            if time.time() > until:
                self.stop()
                raise RuntimeError("the agent did not answer in time")
            time.sleep(0.2)
        return self

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=30)
        self._wait_port_free(10)

    def __exit__(self, *exc):
        self.stop()
