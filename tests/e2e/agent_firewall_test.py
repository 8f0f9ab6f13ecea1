"""The firewall rule: netsh.exe's command line as the agent starts it, byte for
byte, on a Windows of major version 6 and later (advfirewall) and on Windows XP,
major version 5 (portopening). Wine reports the version set for the program in
the prefix's registry (AppDefaults\\Corvane.exe\\Version).

usage: run_e2e.sh agent_firewall_test.py BUILD_DIR
"""
import sys
import unittest

from agent_harness import APP_DEFAULTS_KEY, Agent, NetshStandIn, wait_for

BUILD_DIR = sys.argv.pop(1)

ADVFIREWALL = (b' advfirewall firewall add rule name="Corvane-2" dir=in action=allow  protocol=tcp '
               b'localport=90 description="Corvane firewall ruleset" ')
PORTOPENING = b' firewall add portopening  tcp 90 "Corvane-2" '


class FirewallTest(unittest.TestCase):
    def run_agent(self, name, windows_version):
        agent = Agent(BUILD_DIR, name)
        self.addCleanup(agent.cleanup)
        if windows_version:
            agent.reg_set(APP_DEFAULTS_KEY, "Version", windows_version)
            self.addCleanup(agent.reg_delete, APP_DEFAULTS_KEY)
        with NetshStandIn(agent) as netsh:
            process = agent.start()
            hwnd = agent.wait_ready()
            calls = wait_for(netsh.calls, 10, "netsh to be started")
            self.assertEqual(agent.stop(process, hwnd), 0)
            self.assertEqual(len(netsh.calls()), 1, "netsh runs once per start")
        return calls[0]

    def test_vista_and_later_add_an_advfirewall_rule(self):
        line = self.run_agent("firewall-win7", None)  # the prefix's Windows 7
        self.assertEqual(NetshStandIn.arguments(line), ADVFIREWALL)

    def test_windows_xp_opens_the_port(self):
        line = self.run_agent("firewall-winxp", "winxp64")
        self.assertEqual(NetshStandIn.arguments(line), PORTOPENING)


if __name__ == "__main__":
    unittest.main(verbosity=2)
