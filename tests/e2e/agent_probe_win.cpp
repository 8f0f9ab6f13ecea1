// Looks at a running agent from outside, for the agent's end-to-end tests:
//   agent_probe run-value         the Run value: "type=<n> bytes=<n> data=<hex>" or "missing"
//   agent_probe frames            one line per agent main frame: "<hwnd> visible=<0|1> pid=<n>"
//   agent_probe notify HWND MSG   posts the tray callback (WM_USER+1, id 128, MSG) to the frame
//   agent_probe command HWND ID   posts the menu command ID (WM_COMMAND) to the frame
//   agent_probe icon HWND         "present" when the tray holds icon 128 of that window, else "absent"
//   agent_probe menus             one line per shown popup menu: "<left> <top> <right> <bottom>"
//   agent_probe dialogs PID       one line per shown dialog box of process PID (print dialogs,
//                                 message boxes): "<hwnd> <left> <top> <right> <bottom>"
//   agent_probe item HWND ID      the screen rectangle of a dialog's control: "<left> <top> <right> <bottom>"
//   agent_probe text HWND ID      the text of a dialog's control, in hexadecimal
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

HWND ParseWindow(const char* text)
{
    return reinterpret_cast<HWND>(static_cast<uintptr_t>(std::strtoull(text, nullptr, 0)));
}

int RunValue()
{
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run", 0, KEY_READ,
                      &key) != ERROR_SUCCESS) {
        std::printf("missing\n");
        return 0;
    }
    BYTE data[512];
    DWORD type = 0, size = sizeof data;
    LONG result = RegQueryValueExA(key, "Corvane", nullptr, &type, data, &size);
    RegCloseKey(key);
    if (result != ERROR_SUCCESS) {
        std::printf("missing\n");
        return 0;
    }
    std::printf("type=%lu bytes=%lu data=", type, size);
    for (DWORD i = 0; i < size; ++i) std::printf("%02x", data[i]);
    std::printf("\n");
    return 0;
}

BOOL CALLBACK ListFrame(HWND window, LPARAM)
{
    char title[64] = {}, className[128] = {};
    GetWindowTextA(window, title, sizeof title);
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(title, "Corvane") == 0 && std::strncmp(className, "CorvaneWnd:", 11) == 0) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        std::printf("%llu visible=%d pid=%lu\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)),
                    IsWindowVisible(window) ? 1 : 0, pid);
    }
    return TRUE;
}

BOOL CALLBACK ListMenu(HWND window, LPARAM)
{
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    if (std::strcmp(className, "#32768") == 0 && IsWindowVisible(window)) {
        RECT r;
        GetWindowRect(window, &r);
        std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
    }
    return TRUE;
}

BOOL CALLBACK ListDialog(HWND window, LPARAM pid)
{
    char className[32] = {};
    GetClassNameA(window, className, sizeof className);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (std::strcmp(className, "#32770") == 0 && IsWindowVisible(window) && owner == static_cast<DWORD>(pid)) {
        RECT r;
        GetWindowRect(window, &r);
        std::printf("%llu %ld %ld %ld %ld\n", static_cast<unsigned long long>(reinterpret_cast<uintptr_t>(window)),
                    r.left, r.top, r.right, r.bottom);
    }
    return TRUE;
}

int DialogItem(const char* dialog, const char* id, bool text)
{
    HWND item = GetDlgItem(ParseWindow(dialog), std::atoi(id));
    if (!item) return 1;
    if (text) {
        char buffer[512] = {};
        // Sent, not GetWindowText: that reads only the caption of another process's window.
        const int length = static_cast<int>(
            SendMessageA(item, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer)));
        for (int i = 0; i < length; ++i) std::printf("%02x", static_cast<unsigned char>(buffer[i]));
        std::printf("\n");
        return 0;
    }
    RECT r;
    GetWindowRect(item, &r);
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right, r.bottom);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::string command = argc > 1 ? argv[1] : "";
    if (command == "run-value") return RunValue();
    if (command == "frames") {
        EnumWindows(ListFrame, 0);
        return 0;
    }
    if (command == "menus") {
        EnumWindows(ListMenu, 0);
        return 0;
    }
    if (command == "dialogs" && argc == 3) {
        EnumWindows(ListDialog, std::atol(argv[2]));
        return 0;
    }
    if ((command == "item" || command == "text") && argc == 4) return DialogItem(argv[2], argv[3], command == "text");
    if (command == "notify" && argc == 4) {
        return PostMessageA(ParseWindow(argv[2]), WM_USER + 1, 128, std::strtol(argv[3], nullptr, 0)) ? 0 : 1;
    }
    if (command == "command" && argc == 4) {
        return PostMessageA(ParseWindow(argv[2]), WM_COMMAND, std::strtoul(argv[3], nullptr, 0), 0) ? 0 : 1;
    }
    if (command == "icon" && argc == 3) {
        // Changing nothing of an icon succeeds only while the tray holds it.
        NOTIFYICONDATAA tray{};
        tray.cbSize = sizeof tray;
        tray.hWnd = ParseWindow(argv[2]);
        tray.uID = 128;
        tray.uFlags = 0;
        std::printf("%s\n", Shell_NotifyIconA(NIM_MODIFY, &tray) ? "present" : "absent");
        return 0;
    }
    std::fprintf(stderr, "usage: agent_probe run-value|frames|menus|dialogs PID|item HWND ID|text HWND ID|"
                         "notify HWND MSG|command HWND ID|icon HWND\n");
    return 2;
}
