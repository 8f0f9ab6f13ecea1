"""Ending the agent while a web card command waits on a reader that never answers
(a winscard.dll of the test's own beside the program): the process is gone with
exit code 0 within 5 s of a WM_CLOSE to its main frame, as the test panel closes
it, and a new agent started 3 s later answers on port 90. The same with a
WM_QUIT to the main thread, which also takes the tray icon away.

usage: run_e2e.sh agent_ending_test.py BUILD_DIR
"""
import shutil
import socket
import subprocess
import sys
import time
import unittest

from agent_harness import PORT, Agent, http_get, listeners_on, wait_for, windows_path

BUILD_DIR = sys.argv.pop(1)
# Seconds from the message to the end of the process. The agent itself ends in
# a few milliseconds; the bound leaves room for Wine's own work at the end (the
# tray icon's removal goes through its tray), which once took 2.02 s in a fresh
# prefix, and still tells it from an ending that waits for the card command.
ENDED_WITHIN = 5.0


class EndingTest(unittest.TestCase):
    def setUp(self):
        self.agent = Agent(BUILD_DIR, "ending")
        self.addCleanup(self.agent.cleanup)
        shutil.copy2(self.agent.tools / "silent_winscard.dll", self.agent.work / "winscard.dll")
        overrides = self.agent.env.get("WINEDLLOVERRIDES", "")
        self.agent.env["WINEDLLOVERRIDES"] = (overrides + ";" if overrides else "") + "winscard=n"
        self.mark = self.agent.work / "in-the-reader"
        self.agent.env["CORVANE_WINSCARD_MARK"] = windows_path(self.mark)
        wait_for(lambda: listeners_on(PORT) == 0, 15, "port 90 to be free")

    def start_card_command(self):
        """Sends a card command (id 12) and waits until it is inside the reader."""
        self.mark.unlink(missing_ok=True)
        client = socket.create_connection(("127.0.0.1", PORT), timeout=5)
        self.addCleanup(client.close)
        client.sendall(b"GET /Corvane.html?callback=cb&id=12 HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n")
        wait_for(self.mark.exists, 20, "the card command in the silent reader")
        return client

    def end(self, process, how, hwnd):
        """Ends the agent through ending_probe; returns its exit code and the
        seconds from the probe's return to the end of the process."""
        probe = self.agent.wine(str(self.agent.tools / "ending_probe.exe"), how, str(hwnd))
        self.assertEqual(probe.returncode, 0, probe.stderr)
        posted = time.monotonic()
        try:
            code = process.wait(30)
        except subprocess.TimeoutExpired:
            self.fail(f"the agent lives on 30 s after {how}")
        took = time.monotonic() - posted
        print(f"ended with {code} {took:.2f} s after {how}", flush=True)
        return code, took

    def test_ending_during_a_card_command(self):
        agent = self.agent
        first = agent.start()
        hwnd = agent.wait_ready()
        client = self.start_card_command()

        code, took = self.end(first, "close", hwnd)
        ended = time.monotonic()
        self.assertEqual(code, 0)
        self.assertLess(took, ENDED_WITHIN, "the ending waited for the card command")
        client.settimeout(5)
        try:
            rest = client.recv(1)
        except ConnectionResetError:
            rest = b""
        self.assertEqual(rest, b"", "the card command's connection outlived the agent")

        # A new agent, 3 s after the ending: it takes the logon and port 90.
        time.sleep(max(0.0, 3.0 - (time.monotonic() - ended)))
        second = agent.start()
        hwnd = agent.wait_ready()
        self.assertEqual(http_get("/Corvane.html?callback=cb&id=88"), (200, b'cb({"result":"1.7.1.1"})'))
        self.assertIsNone(second.poll())

        # A quit to the main thread ends it the same way; the tray icon goes too.
        self.start_card_command()
        self.assertTrue(agent.icon_present(hwnd))
        code, took = self.end(second, "quit", hwnd)
        self.assertEqual(code, 0)
        self.assertLess(took, ENDED_WITHIN, "the ending waited for the card command")
        self.assertFalse(agent.icon_present(hwnd), "the tray icon outlived the agent")
        wait_for(lambda: listeners_on(PORT) == 0, 5, "port 90 to be free")


if __name__ == "__main__":
    unittest.main(verbosity=2)
