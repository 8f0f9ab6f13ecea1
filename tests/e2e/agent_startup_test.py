"""Start-up of the real agent: the Run value, the older values, the command
server, the hidden frame and its tray icon, and a second start in the same
logon, which must end at once with code 0 and change nothing.

usage: run_e2e.sh agent_startup_test.py BUILD_DIR
"""
import sys
import time
import unittest

from agent_harness import PORT, RUN_KEY, Agent, NetshStandIn, http_get, listeners_on

BUILD_DIR = sys.argv.pop(1)
RUN_DATA = b"c:\\qv\\Corvane\\Corvane.exe\0"


class StartupTest(unittest.TestCase):
    def setUp(self):
        self.agent = Agent(BUILD_DIR, "startup")
        self.addCleanup(self.agent.cleanup)
        self.addCleanup(self.agent.reg_delete, RUN_KEY, "qv")
        self.addCleanup(self.agent.reg_delete, RUN_KEY, "qvro")

    def plant_older_values(self):
        self.agent.reg_set(RUN_KEY, "qv", r"c:\qv\qv.exe")
        self.agent.reg_set(RUN_KEY, "qvro", r"c:\qv\qvro.exe")
        self.agent.reg_delete(RUN_KEY, "Corvane")

    def test_first_start_then_second_start(self):
        agent = self.agent
        with NetshStandIn(agent) as netsh:
            self.plant_older_values()
            self.assertIsNotNone(agent.reg_query(RUN_KEY, "qv"))
            first = agent.start()
            hwnd = agent.wait_ready()

            # The Run value names the install path, not the copy that runs.
            text = agent.reg_query(RUN_KEY, "Corvane")
            self.assertIsNotNone(text)
            self.assertRegex(text, r"Corvane\s+REG_SZ\s+c:\\qv\\Corvane\\Corvane\.exe\s")
            self.assertEqual(agent.probe("run-value").strip(),
                             "type=1 bytes=26 data=" + RUN_DATA.hex())
            self.assertIsNone(agent.reg_query(RUN_KEY, "qv"))
            self.assertIsNone(agent.reg_query(RUN_KEY, "qvro"))

            status, body = http_get("/Corvane.html?callback=cb&id=88")
            self.assertEqual((status, body), (200, b'cb({"result":"1.7.1.1"})'))

            frames = agent.frames()
            self.assertEqual(len(frames), 1)
            self.assertFalse(frames[0][1], "the main frame is never shown")
            self.assertTrue(agent.icon_present(hwnd))
            self.assertEqual(len(netsh.calls()), 1)
            agent.screenshot("startup-tray-icon.png")

            # A second start in the same logon: gone at once with 0, nothing touched.
            self.plant_older_values()
            started = time.monotonic()
            second = agent.start()
            code = second.wait(30)
            elapsed = time.monotonic() - started
            self.assertEqual(code, 0)
            self.assertLess(elapsed, 8.0, "the second agent ends before the 1 s pause and the server")
            time.sleep(1.5)  # a netsh or server of the second agent would show by now
            self.assertIsNone(agent.reg_query(RUN_KEY, "Corvane"), "the second start wrote the Run value")
            self.assertIsNotNone(agent.reg_query(RUN_KEY, "qv"), "the second start deleted qv")
            self.assertIsNotNone(agent.reg_query(RUN_KEY, "qvro"), "the second start deleted qvro")
            self.assertEqual(len(netsh.calls()), 1, "the second start ran netsh")
            self.assertEqual(listeners_on(PORT), 1)
            self.assertEqual([f[0] for f in agent.frames()], [hwnd], "one frame, the first agent's")
            self.assertTrue(agent.icon_present(hwnd))
            self.assertEqual(http_get("/Corvane.html?callback=cb&id=88")[0], 200)

            # The exit command ends the first agent and takes its icon away.
            self.assertEqual(agent.stop(first, hwnd), 0)
            self.assertFalse(agent.icon_present(hwnd))
            self.assertEqual(listeners_on(PORT), 0, "the server went with the process")


if __name__ == "__main__":
    unittest.main(verbosity=2)
