"""Runs the real Corvane.exe under Wine for the end-to-end drivers and looks at it
from outside: the registry through `wine reg`, windows and the tray through
agent_probe.exe, the command port through plain HTTP, the screen through
ImageMagick's `import`. The environment comes from run_e2e.sh (WINELOADER,
WINEPREFIX, DISPLAY).

Only one agent may run in a Wine prefix at a time (its single-instance event and
port 90): CTest runs these drivers under one resource lock.
"""
import http.client
import os
import pathlib
import shutil
import subprocess
import tempfile

from waiting import wait_for
from wine_agent import is_32_bit_program

WINE = os.environ["WINELOADER"]
PREFIX = pathlib.Path(os.environ["WINEPREFIX"])
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
APP_DEFAULTS_KEY = r"HKCU\Software\Wine\AppDefaults\Corvane.exe"
PORT = 90

ID_APP_EXIT = 57665
WM_RBUTTONDOWN = 0x204


def windows_path(path):
    """The path as Wine's programs see it (drive Z: is the Unix root)."""
    return "Z:" + str(pathlib.Path(path).resolve()).replace("/", "\\")


def listeners_on(port):
    """Listening TCP sockets on `port` on this machine (Wine's sockets are the host's)."""
    count = 0
    for table in ("/proc/net/tcp", "/proc/net/tcp6"):
        try:
            lines = pathlib.Path(table).read_text().splitlines()[1:]
        except FileNotFoundError:
            continue
        for line in lines:
            fields = line.split()
            if fields[3] == "0A" and int(fields[1].rsplit(":", 1)[1], 16) == port:
                count += 1
    return count


def wait_for_free_port(timeout=15):
    """Waits until nothing listens on the command port (Wine's server lets go of
    an ended program's sockets a moment after the program ended)."""
    wait_for(lambda: listeners_on(PORT) == 0, timeout, "port 90 to be free")


def http_get(path, timeout=5):
    connection = http.client.HTTPConnection("127.0.0.1", PORT, timeout=timeout)
    try:
        connection.request("GET", path)
        answer = connection.getresponse()
        return answer.status, answer.read()
    finally:
        connection.close()


class Agent:
    """One test's copy of Corvane.exe in its own directory, and the tools around it."""

    def __init__(self, build_dir, name):
        self.tools = pathlib.Path(build_dir) / "tests" / "e2e"
        self.work = self.tools / "work" / name
        self.artifacts = self.tools / "artifacts"
        shutil.rmtree(self.work, ignore_errors=True)
        self.work.mkdir(parents=True)
        self.artifacts.mkdir(parents=True, exist_ok=True)
        # Started from a directory of its own: the Run value must not follow it.
        self.exe = self.work / "Corvane.exe"
        shutil.copy2(pathlib.Path(build_dir) / "agent" / "Corvane.exe", self.exe)
        # The reader link library is loaded from the program's own folder.
        shutil.copy2(pathlib.Path(build_dir) / "agent" / "Tarnlink.dll", self.exe.parent / "Tarnlink.dll")
        self.env = dict(os.environ)
        self.processes = []

    # --- Windows programs -------------------------------------------------
    def wine(self, *args, timeout=60):
        # Output goes through files, not pipes: a Wine program may start Wine's
        # own long-lived processes (wineserver, explorer), which inherit its
        # handles and would hold a pipe open after the program ended.
        with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
            code = subprocess.run([WINE, *args], cwd=self.work, env=self.env, stdout=out, stderr=err,
                                  timeout=timeout).returncode
            out.seek(0)
            err.seek(0)
            return subprocess.CompletedProcess(args, code, out.read(), err.read())

    def probe(self, *args):
        done = self.wine(str(self.tools / "agent_probe.exe"), *map(str, args))
        if done.returncode != 0:
            raise AssertionError(f"agent_probe {args} failed: {done.stderr!r}")
        return done.stdout.decode("ascii").replace("\r", "")

    def reg_query(self, key, value):
        """`wine reg query` of one value: its output text, or None when the value is missing."""
        done = self.wine("reg", "query", key, "/v", value)
        return done.stdout.decode("utf-8", "replace") if done.returncode == 0 else None

    def reg_set(self, key, value, data):
        done = self.wine("reg", "add", key, "/v", value, "/d", data, "/f")
        assert done.returncode == 0, done.stderr

    def reg_delete(self, key, value=None):
        args = ["reg", "delete", key] + (["/v", value] if value else []) + ["/f"]
        self.wine(*args)

    # --- the agent ----------------------------------------------------------
    def start(self):
        process = subprocess.Popen([WINE, str(self.exe)], cwd=self.work, env=self.env,
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.processes.append(process)
        return process

    def frames(self):
        """The agent main frames that exist: [(hwnd, visible, pid)]."""
        result = []
        for line in self.probe("frames").splitlines():
            hwnd, visible, pid = line.split()
            result.append((int(hwnd), visible == "visible=1", int(pid.split("=")[1])))
        return result

    def wait_ready(self, timeout=30):
        """Waits for the frame and the server; returns the frame's window handle."""
        frames = wait_for(self.frames, timeout, "the agent's main frame")
        wait_for(lambda: listeners_on(PORT) > 0, timeout, "the command server on port 90")
        return frames[0][0]

    def icon_present(self, hwnd):
        return self.probe("icon", hwnd).strip() == "present"

    def screenshot(self, name):
        path = self.artifacts / name
        subprocess.run(["import", "-window", "root", str(path)], check=True, timeout=30)
        return path

    def stop(self, process, hwnd, timeout=15):
        """Ends the agent through its exit command; returns its exit code once the
        process and its sockets are gone."""
        self.probe("command", hwnd, ID_APP_EXIT)
        code = process.wait(timeout)
        wait_for_free_port()
        return code

    def cleanup(self):
        for process in self.processes:
            if process.poll() is None:
                process.kill()
                process.wait()


class NetshStandIn:
    """Puts the test's netsh.exe where Wine's shell finds netsh.exe first.

    Wine's ShellExecute looks for a bare "netsh.exe" in the system directory before
    the program's directory and PATH, and loads its own built-in netsh for a file
    there unless told to load the file: the stand-in replaces the prefix's
    netsh.exe in the agent's system directory for the test (the original is put
    back afterwards) and the agent's environment asks for the file
    (WINEDLLOVERRIDES netsh.exe=n). A 32-bit agent's system directory is
    windows\\syswow64, a 64-bit one's windows\\system32. The stand-in records each
    command line into a file of `record_dir`.
    """

    def __init__(self, agent):
        self.agent = agent
        system = "syswow64" if is_32_bit_program(agent.exe) else "system32"
        self.target = PREFIX / "drive_c" / "windows" / system / "netsh.exe"
        self.backup = agent.work / "netsh.exe.wine"
        self.record_dir = agent.work / "netsh-calls"

    def __enter__(self):
        self.record_dir.mkdir()
        shutil.copy2(self.target, self.backup)
        shutil.copy2(self.agent.tools / "netsh_standin.exe", self.target)
        overrides = self.agent.env.get("WINEDLLOVERRIDES", "")
        self.agent.env["WINEDLLOVERRIDES"] = (overrides + ";" if overrides else "") + "netsh.exe=n"
        self.agent.env["CORVANE_NETSH_RECORD"] = windows_path(self.record_dir)
        return self

    def __exit__(self, *exc):
        shutil.copy2(self.backup, self.target)
        return False

    def calls(self):
        """Command lines recorded so far, in order, as bytes."""
        files = sorted(self.record_dir.glob("netsh-call-*.txt"),
                       key=lambda p: int(p.stem.rsplit("-", 1)[1]))
        return [p.read_bytes() for p in files]

    @staticmethod
    def arguments(command_line):
        """The argument text of a recorded command line: what follows the quoted
        program path and the one blank the shell puts after it."""
        assert command_line.startswith(b'"'), command_line
        end = command_line.index(b'"', 1)
        assert command_line[end + 1:end + 2] == b" ", command_line
        return command_line[end + 2:]
