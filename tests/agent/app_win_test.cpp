// The agent's start-up in this process, for the two ways it ends before the
// message loop (OLE cannot start, and another agent already runs in the logon),
// and the Run value its frame writes.
// (The whole agent, with its tray, server and firewall rule, is tested from
// outside in tests/e2e.)
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/commands/obu_issue_ctrl.h"
#include "agent/corvane_app_win.h"
#include "agent/startup_win.h"
#include "framework/message_box_win.h"

COBUIssueCtrl g_OBUIssueCtrl;

namespace {

constexpr const char* kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

bool RunValueExists(const char* name)
{
    return RegGetValueA(HKEY_CURRENT_USER, kRunKey, name, RRF_RT_ANY, nullptr, nullptr, nullptr) ==
           ERROR_SUCCESS;
}

void SetRunValue(const char* name, const char* data)
{
    RegSetKeyValueA(HKEY_CURRENT_USER, kRunKey, name, REG_SZ, data, static_cast<DWORD>(strlen(data) + 1));
}

void DeleteRunValue(const char* name)
{
    RegDeleteKeyValueA(HKEY_CURRENT_USER, kRunKey, name);
}

struct RecordedBoxes {
    std::vector<corvane::MessageBoxRequest> boxes;
    RecordedBoxes()
    {
        corvane::SetMessageBoxHook([this](const corvane::MessageBoxRequest& request) {
            boxes.push_back(request);
            return IDOK;
        });
    }
    ~RecordedBoxes() { corvane::SetMessageBoxHook(nullptr); }
};

TEST(AgentStart, OleThatCannotStartShowsItsBoxAndEnds)
{
    // A thread already in the multithreaded apartment cannot take OLE.
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    RecordedBoxes recorded;
    CCorvaneApp app;
    EXPECT_EQ(AfxWinMain(GetModuleHandleA(nullptr), nullptr, GetCommandLineA(), SW_HIDE), 0);
    CoUninitialize();

    ASSERT_EQ(recorded.boxes.size(), 1u);
    EXPECT_EQ(recorded.boxes[0].text,
              "OLE를 초기화할 수 없습니다. OLE 라이브러리 버전이 올바른지 확인하십시오.");
    EXPECT_EQ(recorded.boxes[0].caption, "Corvane") << "the application's name from string 57344";
    EXPECT_EQ(recorded.boxes[0].type, static_cast<UINT>(MB_OK));
    EXPECT_EQ(AfxGetMainWnd(), nullptr) << "no frame";
    HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, "Corvane");
    EXPECT_EQ(event, nullptr) << "the single-instance event belongs to the frame's creation";
    if (event) CloseHandle(event);
}

TEST(AgentStart, SecondAgentEndsAtOnceWithZeroAndChangesNothing)
{
    // The running agent's event.
    HANDLE running = CreateEventA(nullptr, FALSE, TRUE, "Corvane");
    ASSERT_NE(running, nullptr);
    DeleteRunValue("Corvane");
    SetRunValue("qv", "c:\\qv\\qv.exe");
    RecordedBoxes recorded;
    CCorvaneApp app;

    ULONGLONG started = GetTickCount64();
    EXPECT_EQ(AfxWinMain(GetModuleHandleA(nullptr), nullptr, GetCommandLineA(), SW_HIDE), 0);
    EXPECT_LT(GetTickCount64() - started, 1000u) << "ends before the firewall pause";

    EXPECT_TRUE(recorded.boxes.empty()) << "silently";
    EXPECT_EQ(AfxGetMainWnd(), nullptr);
    EXPECT_EQ(FindWindowA(nullptr, "Corvane"), nullptr) << "no frame window";
    EXPECT_FALSE(RunValueExists("Corvane")) << "Run value written";
    EXPECT_TRUE(RunValueExists("qv")) << "older value deleted";
    DeleteRunValue("qv");
    CloseHandle(running);
}

TEST(RunValue, WrittenAsTheInstallPathWithItsTerminatingZero)
{
    DeleteRunValue("Corvane");
    corvane::startup::WriteRunValue();

    HKEY key;
    ASSERT_EQ(RegOpenKeyExA(HKEY_CURRENT_USER, kRunKey, 0, KEY_READ, &key), ERROR_SUCCESS);
    DWORD type = 0;
    BYTE data[MAX_PATH] = {};
    DWORD size = sizeof data;
    LONG read = RegQueryValueExA(key, "Corvane", nullptr, &type, data, &size);
    RegCloseKey(key);
    DeleteRunValue("Corvane");

    ASSERT_EQ(read, ERROR_SUCCESS) << "no Run value written";
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(size, 26u) << "25 characters and the terminating zero";
    // The install path the installer uses, wherever this program runs from.
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data), size),
              std::string("c:\\qv\\Corvane\\Corvane.exe\0", 26));
}

}  // namespace
