"""The tray icon and its menu: a right-button press on the icon shows the popup at
the cursor, every other mouse message does nothing; "Agent 화면" leaves the agent
running, "Agent 종료" ends it and its icon goes. The command port is taken by
another program during the run: the tray works all the same.

Screenshots go to BUILD_DIR/tests/e2e/artifacts.
usage: run_e2e.sh agent_tray_test.py BUILD_DIR
"""
import socket
import subprocess
import sys
import time
import unittest

from agent_harness import PORT, PREFIX, WM_RBUTTONDOWN, Agent, wait_for, wait_for_free_port

BUILD_DIR = sys.argv.pop(1)

OTHER_MOUSE_MESSAGES = {
    "WM_MOUSEMOVE": 0x200, "WM_LBUTTONDOWN": 0x201, "WM_LBUTTONUP": 0x202,
    "WM_LBUTTONDBLCLK": 0x203, "WM_RBUTTONUP": 0x205, "WM_RBUTTONDBLCLK": 0x206,
    "WM_MBUTTONDOWN": 0x207, "WM_MBUTTONUP": 0x208,
}
CURSOR = (1100, 900)  # away from the screen centre, where message boxes of other tests show


def xdotool(*args):
    subprocess.run(["xdotool", *map(str, args)], check=True, timeout=10)


class TrayTest(unittest.TestCase):
    def setUp(self):
        self.agent = Agent(BUILD_DIR, "tray")
        self.addCleanup(self.agent.cleanup)
        # Another program holds the command port.
        wait_for_free_port()
        self.holder = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self.addCleanup(self.holder.close)
        # Connections of earlier runs may still wait out their close on the port.
        self.holder.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        self.holder.bind(("127.0.0.1", PORT))
        self.holder.listen(1)

    def menus(self):
        return [tuple(map(int, line.split())) for line in self.agent.probe("menus").splitlines()]

    def open_menu(self, hwnd):
        xdotool("mousemove", *CURSOR)
        self.agent.probe("notify", hwnd, WM_RBUTTONDOWN)
        return wait_for(self.menus, 10, "the tray popup")[0]

    def choose(self, menu, item, items=2):
        """Clicks entry `item` (0-based) of a shown popup of `items` entries."""
        left, top, right, bottom = menu
        x = (left + right) // 2
        y = top + (bottom - top) * (2 * item + 1) // (2 * items)
        xdotool("mousemove", x, y)
        time.sleep(0.3)
        xdotool("click", "1")

    def test_popup_and_exit(self):
        agent = self.agent
        log = PREFIX / "drive_c" / "windows" / "VURovivu.log"
        log_start = log.stat().st_size if log.exists() else 0
        process = agent.start()
        hwnd = wait_for(agent.frames, 30, "the agent's main frame")[0][0]
        wait_for(lambda: agent.icon_present(hwnd), 10, "the tray icon")
        # The server could not start: its log says so, the agent runs on.
        wait_for(lambda: log.exists() and b"bind(...) failure" in log.read_bytes()[log_start:], 10,
                 "the server's bind failure in its log")
        self.assertIsNone(process.poll())
        agent.screenshot("tray-icon.png")

        xdotool("mousemove", *CURSOR)
        for name, message in OTHER_MOUSE_MESSAGES.items():
            agent.probe("notify", hwnd, message)
        time.sleep(1.0)
        self.assertEqual(self.menus(), [], "a mouse message other than the right button showed a menu")

        # Right button: the "구분" popup, right-aligned at the cursor.
        menu = self.open_menu(hwnd)
        agent.screenshot("tray-menu.png")
        left, top, right, bottom = menu
        self.assertEqual((right, top), CURSOR, f"popup {menu} not right-aligned at the cursor")
        self.assertGreater(bottom - top, 20, "two entries")

        # "Agent 화면": nothing visible yet, the agent runs on.
        self.choose(menu, 0)
        wait_for(lambda: not self.menus(), 10, "the popup to close")
        time.sleep(1.0)
        self.assertIsNone(process.poll(), "Agent 화면 ended the agent")
        self.assertTrue(agent.icon_present(hwnd))

        # "Agent 종료" ends the agent; its icon goes with it.
        menu = self.open_menu(hwnd)
        self.choose(menu, 1)
        self.assertEqual(process.wait(15), 0)
        self.assertFalse(agent.icon_present(hwnd), "the tray icon outlived the agent")
        self.assertEqual(agent.frames(), [])
        agent.screenshot("tray-after-exit.png")


if __name__ == "__main__":
    unittest.main(verbosity=2)
