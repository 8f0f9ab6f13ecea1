// What the agent leaves on the system when it starts: its Run value, the older
// values it removes, its firewall rule, its single-instance name and its tray
// icon. The texts are fixed: the shop PCs and the installer rely on them.
#pragma once

#include <string>

namespace corvane::startup {

// Per-user Run key (under HKEY_CURRENT_USER) and the agent's value in it. The
// data is the install path, whatever path the program was started from; it is
// written with its terminating zero (26 bytes).
constexpr const char* kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kRunValueName = "Corvane";
constexpr const char* kRunValueData = "c:\\qv\\Corvane\\Corvane.exe";
constexpr unsigned kRunValueBytes = 26;
// Values of older agents in the same key, deleted at every start.
constexpr const char* kOlderRunValues[] = {"qv", "qvro"};

// The firewall tool, started through the shell.
constexpr const char* kFirewallTool = "netsh.exe";
// Arguments of the firewall tool for a Windows of `majorVersion`: the
// advfirewall rule from Vista on (6 and above), the older port opening before.
std::string FirewallRuleArguments(unsigned majorVersion);

// Tray icon: its id, its callback message (WM_USER + 1) and its tip.
constexpr unsigned kTrayIconId = 128;
constexpr unsigned kTrayCallbackMessage = 0x0401;
constexpr const char* kTrayTip = "미리내상사Wendra(통합) V1.7.1.1";
// Which popup of the main menu the tray shows: "구분" with "Agent 화면" and
// "Agent 종료".
constexpr int kTrayPopupIndex = 1;

// Pause after starting the firewall tool, before the tray icon is added.
constexpr unsigned kFirewallPauseMs = 1000;

// The command server's port and the idle time-out of its connections.
constexpr int kServerPort = 90;
constexpr int kServerIdleTimeoutMs = 200;

}  // namespace corvane::startup
