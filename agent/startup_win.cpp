#include "agent/startup_win.h"

#include <shellapi.h>

#include <string>

#include "agent/startup.h"

namespace corvane::startup {
namespace {

HANDLE g_instanceEvent = nullptr;
bool g_anotherFound = false;

}  // namespace

bool ClaimSingleInstance(const char* name)
{
    HANDLE event = CreateEventA(nullptr, FALSE, TRUE, name);
    if (event && GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(event);
        g_anotherFound = true;
        return false;
    }
    // Kept open for the rest of the process: it marks the running agent.
    g_instanceEvent = event;
    return true;
}

bool AnotherInstanceFound()
{
    return g_anotherFound;
}

void WriteRunValue()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kRunKey, 0, KEY_WRITE, &key) != ERROR_SUCCESS) return;
    RegSetValueExA(key, kRunValueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(kRunValueData),
                   kRunValueBytes);
    RegCloseKey(key);
}

void DeleteOlderRunValues()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, kRunKey, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    for (const char* name : kOlderRunValues) RegDeleteValueA(key, name);
    RegCloseKey(key);
}

void AddFirewallRule()
{
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;  // 148
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    GetVersionExA(&version);
#pragma GCC diagnostic pop
    const std::string arguments = FirewallRuleArguments(version.dwMajorVersion);
    ShellExecuteA(nullptr, "open", kFirewallTool, arguments.c_str(), nullptr, SW_HIDE);
}

static_assert(sizeof(OSVERSIONINFOA) == 148, "the version record the agent reads");

}  // namespace corvane::startup
