// The agent's start-up in this process, for the two ways it ends before the
// message loop (OLE cannot start, and another agent already runs in the logon),
// the Run value its frame writes, and what its ending stops before the process
// goes. (The whole agent, with its tray, server and firewall rule, is tested
// from outside in tests/e2e.)
#include <winsock2.h>
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "agent/commands/obu_issue_ctrl.h"
#include "agent/corvane_app_win.h"
#include "agent/startup_win.h"
#include "framework/dialog_win.h"
#include "framework/message_box_win.h"
#include "framework/frame_wnd_win.h"
#include "resources/about_dlg_ids.h"
#include "resources/resource.h"

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

bool Port90Listens()
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(90);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool connected = connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
    closesocket(s);
    return connected;
}

// The whole agent, ended by a quit to its main thread. The server is neither
// stopped nor destroyed, yet the ending lets port 90 go before the loop returns,
// and the main frame (with the tray icon) goes although nothing closed it.
// Between the two tests around it: the OLE test looks for no single-instance
// event (this agent's stays with the process), and the second-agent test leaves
// the note that another agent runs.
TEST(AgentStart, RunsUntilAQuitThenLetsPort90AndItsFrameGo)
{
    WSADATA data;
    ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &data), 0);
    CCorvaneApp app;
    const DWORD mainThread = GetCurrentThreadId();
    std::thread quitter([mainThread] {
        HWND frame = nullptr;
        for (int i = 0; i < 600 && !(frame && Port90Listens()); ++i) {
            Sleep(50);
            frame = FindWindowA(nullptr, "Corvane");
        }
        PostThreadMessageA(mainThread, WM_QUIT, 0, 0);
    });
    const int code = AfxWinMain(GetModuleHandleA(nullptr), nullptr, GetCommandLineA(), SW_HIDE);
    quitter.join();
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(app.ServerMade());
    EXPECT_FALSE(Port90Listens()) << "the ended agent still takes connections";
    EXPECT_EQ(FindWindowA(nullptr, "Corvane"), nullptr) << "the main frame outlived the ending";
    DeleteRunValue("Corvane");
    WSACleanup();
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

// An application that counts the beginnings of its ending.
struct EndingApp : CWinApp {
    int endings = 0;
    void OnEnding() override { ++endings; }
};

TEST(AgentEnd, DestroyingTheMainFrameBeginsTheEnding)
{
    EndingApp app;
    auto* frame = new CFrameWnd;  // deletes itself with its window
    app.m_pMainWnd = frame;
    ASSERT_TRUE(frame->LoadFrame(IDR_MAINFRAME));
    EXPECT_EQ(app.endings, 0);
    ::DestroyWindow(frame->m_hWnd);
    EXPECT_EQ(app.endings, 1);
    MSG message;
    EXPECT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the loop is asked to end";
}

// A modal dialog on the application's thread that a quit ends.
TEST(AgentEnd, AQuitThatEndsAModalDialogBeginsTheEnding)
{
    EndingApp app;
    struct QuitDialog : CDialog {
        QuitDialog() : CDialog(IDD_ABOUTBOX) {}
        BOOL OnInitDialog() override
        {
            PostQuitMessage(3);  // met by the dialog's own loop
            return TRUE;
        }
    } dialog;
    dialog.DoModal();
    EXPECT_EQ(app.endings, 1);
    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE)) << "the quit is kept for the loop";
    EXPECT_EQ(message.wParam, 3u);
}

// A reader library whose port 100 opens; armed, its power-on (a card command's
// first card call) waits for `release`, 5 s at most.
struct HeldReaderLibrary : card::IReaderLibrary {
    HANDLE entered = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<bool> armed{false};
    std::atomic<int> closes{0};
    ~HeldReaderLibrary() override
    {
        CloseHandle(entered);
        CloseHandle(release);
    }
    int32_t InitPort(int32_t port, int32_t) override { return port == 100 ? 100 : 1025; }
    int32_t ClosePort(int32_t) override { return ++closes, 0; }
    int32_t IcPowerOn(int32_t, int32_t* length, uint8_t*) override
    {
        *length = 0;
        if (armed) {
            SetEvent(entered);
            WaitForSingleObject(release, 5000);
        }
        return 0;
    }
    int32_t IcCase1(int32_t, int32_t, const uint8_t*, int32_t*, uint8_t*) override { return 1025; }
    int32_t IcCase2(int32_t, int32_t, const uint8_t*, int32_t*, uint8_t*) override { return 1025; }
    int32_t IcCase3(int32_t, int32_t, const uint8_t*, int32_t*, uint8_t*) override { return 1025; }
    int32_t AbmTransparent(int32_t, int32_t, int32_t, const uint8_t*, int32_t*, uint8_t*) override { return 1025; }
};

TEST(AgentEnd, TheIdleCardLinkIsClosedAndOneInUseIsLeftWithoutWaiting)
{
    HeldReaderLibrary library;
    COBUIssueCtrl ctrl;
    ctrl.CardAccess().UseLinks(&library, nullptr);
    CString result;
    ASSERT_TRUE(ctrl.RunCommand(17, "", result));  // opens the reader and leaves it open
    EXPECT_TRUE(ctrl.CloseIdleCardLink());
    EXPECT_EQ(library.closes.load(), 1) << "the open link was left open";

    library.armed = true;
    std::thread command([&] { ctrl.RunCommand(12, "", result); });
    ASSERT_EQ(WaitForSingleObject(library.entered, 5000), WAIT_OBJECT_0);
    const ULONGLONG start = GetTickCount64();
    EXPECT_FALSE(ctrl.CloseIdleCardLink());
    EXPECT_LT(GetTickCount64() - start, 2000u) << "waited for the card command";
    EXPECT_EQ(library.closes.load(), 1) << "closed under the card command";
    SetEvent(library.release);
    command.join();
}

}  // namespace
