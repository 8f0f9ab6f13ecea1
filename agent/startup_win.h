// The start-up steps of the main frame that touch the system: single instance,
// Run value, older values, firewall rule. Failures of the registry and of netsh
// are not reported: the agent runs without them.
#pragma once

#include <windows.h>

namespace corvane::startup {

// Claims the logon's single-instance event named `name` (auto-reset, signalled).
// False when another process holds it already. The event stays open for the
// rest of the process.
bool ClaimSingleInstance(const char* name);
// True once ClaimSingleInstance found another agent.
bool AnotherInstanceFound();

// Sets the agent's Run value (26 bytes, REG_SZ).
void WriteRunValue();
// Deletes "qv" and "qvro" from the Run key.
void DeleteOlderRunValues();
// Starts netsh.exe hidden through the shell with the rule for this Windows; does
// not wait for it.
void AddFirewallRule();

}  // namespace corvane::startup
