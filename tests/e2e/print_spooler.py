"""A print spooler of the test's own: a CUPS scheduler (cupsd) with its own
configuration, spool and logs in a temporary folder, listening on a local socket
only, and a PDF printer (cups-pdf) that writes its files into that folder. Wine's
printing reaches it through libcups when the Windows program's environment names
the socket (CUPS_SERVER, see `env`). Nothing of the machine's own spooler is used
or touched; everything is stopped and removed when the `with` block ends.

cups-pdf reads its settings from /etc/cups only, from a file named after the
device URI's path (cups-pdf:/NAME reads cups-pdf-NAME.conf), so the spooler puts
one such file there for the time it runs and removes it afterwards.

Runs as root (cupsd runs the cups-pdf backend as root only then).

As a command, for printing by hand (the agent started with its CUPS_SERVER):
  python3 print_spooler.py [FOLDER]
starts the spooler with its PDF printer as the default printer, says what to
start the agent with, writes the PDFs into FOLDER (./receipts by default; kept)
and stops on Ctrl-C.
"""
import argparse
import grp
import os
import pathlib
import re
import shutil
import signal
import subprocess
import sys
import tempfile

from waiting import wait_for

CUPS_PDF_CONFIG_DIR = pathlib.Path("/etc/cups")
PDF_MODEL = "lsb/usr/cups-pdf/CUPS-PDF_opt.ppd"


class PrintSpooler:
    def __init__(self, out=None):
        """`out`: the folder the PDFs go to (a folder of the spooler's own,
        removed with it, by default)."""
        self.chosen_out = out
        self.root = None
        self.process = None
        self.pdf_config = None

    # --- start and stop ---------------------------------------------------
    def __enter__(self):
        try:
            self._start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()
        return False

    def _start(self):
        # The filters run as the spooler's user (lp): the folder must be open to it.
        self.root = pathlib.Path(tempfile.mkdtemp(prefix="corvane-spooler-"))
        self.root.chmod(0o755)
        for name in ("etc", "spool", "cache", "state", "log", "out", "pdf-spool"):
            (self.root / name).mkdir()
        temp = self.root / "tmp"
        temp.mkdir()
        os.chown(temp, 0, grp.getgrnam("lp").gr_gid)
        temp.chmod(0o1770)
        self.socket = self.root / "cups.sock"
        self.out = pathlib.Path(self.chosen_out) if self.chosen_out else self.root / "out"
        self.page_log = self.root / "log" / "page_log"
        (self.root / "cupsd.conf").write_text(
            "LogLevel info\n"
            f"Listen {self.socket}\n"
            "Browsing No\n"
            "WebInterface No\n"
            "DefaultAuthType None\n"
            "PreserveJobHistory Yes\n"
            # One line per finished job: its number, its page count and its name.
            "PageLogFormat %j %P %C %{job-name}\n"
            "DefaultPolicy open\n"
            "<Location />\n  Order allow,deny\n  Allow all\n</Location>\n"
            "<Policy open>\n"
            "  JobPrivateAccess default\n  JobPrivateValues default\n"
            "  SubscriptionPrivateAccess default\n  SubscriptionPrivateValues default\n"
            "  <Limit All>\n    Order deny,allow\n  </Limit>\n"
            "</Policy>\n")
        (self.root / "cups-files.conf").write_text(
            f"ServerRoot {self.root / 'etc'}\n"
            f"RequestRoot {self.root / 'spool'}\n"
            f"CacheDir {self.root / 'cache'}\n"
            f"StateDir {self.root / 'state'}\n"
            f"TempDir {temp}\n"
            f"AccessLog {self.root / 'log' / 'access_log'}\n"
            f"ErrorLog {self.root / 'log' / 'error_log'}\n"
            f"PageLog {self.page_log}\n"
            "SystemGroup root\n")
        self.device = f"corvane-spooler-{os.getpid()}"
        self.pdf_config = CUPS_PDF_CONFIG_DIR / f"cups-pdf-{self.device}.conf"
        self.pdf_config.write_text(
            f"Out {self.out}\n"
            f"AnonDirName {self.out}\n"
            f"Spool {self.root / 'pdf-spool'}\n"
            f"Log {self.root / 'log'}\n"
            "LogType 3\n")
        self.process = subprocess.Popen(
            ["cupsd", "-f", "-c", str(self.root / "cupsd.conf"), "-s", str(self.root / "cups-files.conf")],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
            start_new_session=True)  # a Ctrl-C reaches the spooler's owner, which stops it
        wait_for(self._running, 15, "the test's cupsd")

    def _running(self):
        if self.process.poll() is not None:
            raise AssertionError(f"cupsd ended with {self.process.returncode}: {self.error_log()}")
        return self.socket.exists() and self._run("lpstat", "-r", check=False).returncode == 0

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        if self.pdf_config:
            self.pdf_config.unlink(missing_ok=True)
        if self.root:
            shutil.rmtree(self.root, ignore_errors=True)

    @property
    def env(self):
        """What a client of this spooler (Wine's libcups too) needs in its environment."""
        return {"CUPS_SERVER": str(self.socket)}

    def error_log(self):
        try:
            return (self.root / "log" / "error_log").read_text(errors="replace")[-2000:]
        except OSError:
            return ""

    # --- printers -----------------------------------------------------------
    def _run(self, *args, check=True):
        done = subprocess.run(args, env={**os.environ, **self.env}, capture_output=True, text=True, timeout=30)
        if check and done.returncode != 0:
            raise AssertionError(f"{' '.join(args)}: {done.stderr.strip()}")
        return done

    def add_pdf_printer(self, name="PDF"):
        """A PDF printer accepting jobs, made the default printer."""
        self._run("lpadmin", "-p", name, "-v", f"cups-pdf:/{self.device}", "-E", "-m", PDF_MODEL)
        self._run("lpadmin", "-d", name)

    def reject_jobs(self, name="PDF"):
        self._run("cupsreject", name)

    def default_printer(self):
        match = re.search(r"destination: (\S+)", self._run("lpstat", "-d", check=False).stdout)
        return match.group(1) if match else None

    # --- jobs ---------------------------------------------------------------
    def jobs(self):
        """Every job the spooler has taken, finished or not: [(printer, number)]."""
        listed = self._run("lpstat", "-W", "all", "-o", check=False).stdout
        return [(m.group(1), int(m.group(2))) for m in re.finditer(r"^(\S+)-(\d+)\s", listed, re.M)]

    def finished_jobs(self):
        """Jobs that have ended, from the page log: [(number, pages, name)]."""
        try:
            lines = self.page_log.read_text(errors="replace").splitlines()
        except FileNotFoundError:
            return []
        finished = []
        for line in lines:
            number, page, count, name = line.split(" ", 3)
            if page == "total":
                finished.append((int(number), int(count), name))
        return finished

    def wait_finished(self, number, timeout=60):
        """Waits until job `number` has ended and its PDF is written; returns
        (pages, name, path of the PDF)."""
        def done():
            for job, pages, name in self.finished_jobs():
                if job == number:
                    files = sorted(self.out.glob(f"*job_{number}.pdf"))
                    return files and (pages, name, files[0])
            return None
        try:
            return wait_for(done, timeout, f"job {number} to end with its PDF")
        except AssertionError as error:
            raise AssertionError(f"{error}; the spooler's log ends: {self.error_log()}") from None


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="print_spooler.py",
        description="Runs a print spooler of its own with a PDF printer as the default printer, until Ctrl-C.")
    parser.add_argument("folder", type=pathlib.Path, nargs="?", default=pathlib.Path("receipts"),
                        help="where the PDFs go (default: ./receipts; made when missing, kept afterwards)")
    args = parser.parse_args(argv)
    if os.geteuid() != 0:
        parser.error("run it as root: cupsd runs the PDF printer's backend only then")
    folder = args.folder.resolve()
    folder.mkdir(parents=True, exist_ok=True)
    signal.signal(signal.SIGTERM, signal.default_int_handler)
    try:
        with PrintSpooler(out=folder) as spooler:
            spooler.add_pdf_printer()
            print(f"The spooler runs, its PDF printer the default one; the PDFs go to {folder}.\n"
                  "Start the agent with it (Wine looks for printers as a program starts):\n"
                  f"  CUPS_SERVER={spooler.socket} bash scripts/run-agent.sh\n"
                  "Ctrl-C stops the spooler.", flush=True)
            code = spooler.process.wait()
            print(f"cupsd ended with {code}: {spooler.error_log()}", file=sys.stderr)
            return 1
    except KeyboardInterrupt:
        print("The spooler stopped.")
        return 0


if __name__ == "__main__":
    sys.exit(main())
