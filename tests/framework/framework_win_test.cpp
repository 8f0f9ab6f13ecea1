// The window framework on real windows under Wine: command routes, frames and
// their end, dialogs with owner-drawn controls, message boxes and their hook.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "framework/app_win.h"
#include "framework/button_win.h"
#include "framework/dialog_win.h"
#include "framework/frame_wnd_win.h"
#include "framework/message_box_win.h"
#include "tests/framework/framework_test_ids.h"

namespace {

constexpr UINT kFrameCommand = 40001;
constexpr UINT kAppCommand = 40002;
constexpr UINT kBaseCommand = 40003;
constexpr UINT kOverriddenCommand = 40004;

// The commands that ran, in order.
std::vector<std::string> g_ran;

class TestApp : public CWinApp {
public:
    TestApp() : CWinApp("FrameworkTest") {}
    void OnAppCommand() { g_ran.push_back("app"); }
    CORVANE_DECLARE_COMMAND_MAP()
};
CORVANE_COMMAND_MAP(TestApp, CWinApp,
    Command(kAppCommand, &TestApp::OnAppCommand),
)

class BaseTarget : public CCmdTarget {
public:
    void OnBase() { g_ran.push_back("base"); }
    void OnOverridden() { g_ran.push_back("base overridden"); }
    CORVANE_DECLARE_COMMAND_MAP()
};
CORVANE_COMMAND_MAP(BaseTarget, CCmdTarget,
    Command(kBaseCommand, &BaseTarget::OnBase),
    Command(kOverriddenCommand, &BaseTarget::OnOverridden),
)

class DerivedTarget : public BaseTarget {
public:
    void OnOverriddenHere() { g_ran.push_back("derived overridden"); }
    void OnEditChange() { g_ran.push_back("edit change"); }
    CORVANE_DECLARE_COMMAND_MAP()
};
CORVANE_COMMAND_MAP(DerivedTarget, BaseTarget,
    Command(kOverriddenCommand, &DerivedTarget::OnOverriddenHere),
    Command(IDC_TEST_EDIT, &DerivedTarget::OnEditChange, EN_CHANGE),
)

TEST(CommandMap, DerivedRowsFirstThenTheBaseChain)
{
    g_ran.clear();
    DerivedTarget target;
    EXPECT_TRUE(target.OnCmdMsg(kOverriddenCommand, 0));
    EXPECT_TRUE(target.OnCmdMsg(kBaseCommand, 0));
    EXPECT_FALSE(target.OnCmdMsg(kFrameCommand, 0)) << "an id of no map";
    EXPECT_FALSE(target.OnCmdMsg(IDC_TEST_EDIT, 0)) << "a click is not the edit's change notice";
    EXPECT_TRUE(target.OnCmdMsg(IDC_TEST_EDIT, EN_CHANGE));
    EXPECT_EQ(g_ran, (std::vector<std::string>{"derived overridden", "base", "edit change"}));
}

// A frame that records its life.
class TestFrame : public CFrameWnd {
public:
    explicit TestFrame(bool failCreation, bool* deleted) : m_fail(failCreation), m_deleted(deleted) {}
    ~TestFrame() override { *m_deleted = true; }
    void OnFrameCommand() { g_ran.push_back("frame"); }
    int createCalls = 0;
    CORVANE_DECLARE_COMMAND_MAP()

protected:
    int OnCreate(CREATESTRUCTA* create) override
    {
        ++createCalls;
        if (m_fail) return -1;
        return CFrameWnd::OnCreate(create);
    }

private:
    bool m_fail;
    bool* m_deleted;
};
CORVANE_COMMAND_MAP(TestFrame, CFrameWnd,
    Command(kFrameCommand, &TestFrame::OnFrameCommand),
)

// Runs the messages that are waiting; true when a WM_QUIT with `code` came.
bool PumpUntilQuit(int code)
{
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        if (message.message == WM_QUIT) return static_cast<int>(message.wParam) == code;
        DispatchMessageA(&message);
    }
    return false;
}

TEST(Frame, LoadedHiddenFromItsResourcesAndEndedByTheExitCommand)
{
    TestApp app;
    bool deleted = false;
    auto* frame = new TestFrame(false, &deleted);
    app.m_pMainWnd = frame;
    ASSERT_TRUE(frame->LoadFrame(IDR_TEST_FRAME, WS_OVERLAPPEDWINDOW | FWS_ADDTOTITLE));
    HWND window = frame->m_hWnd;
    EXPECT_EQ(CWnd::FromHandlePermanent(window), frame);
    EXPECT_EQ(frame->GetWindowText(), "Test frame");
    EXPECT_NE(GetMenu(window), nullptr) << "the menu of the same id";
    EXPECT_FALSE(IsWindowVisible(window));

    // Commands: the frame's own, then the application's.
    g_ran.clear();
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(kFrameCommand, 0), 0);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(kAppCommand, 1), 0);  // an accelerator
    EXPECT_EQ(g_ran, (std::vector<std::string>{"frame", "app"}));

    // The application's exit: the main frame closes, deletes itself, ends the loop.
    PostMessageA(window, WM_COMMAND, MAKEWPARAM(ID_APP_EXIT, 0), 0);
    EXPECT_TRUE(PumpUntilQuit(0));
    EXPECT_FALSE(IsWindow(window));
    EXPECT_TRUE(deleted);
    EXPECT_EQ(app.m_pMainWnd, nullptr);
}

TEST(Frame, CreationRefusedByOnCreateDeletesTheFrame)
{
    TestApp app;
    bool deleted = false;
    auto* frame = new TestFrame(true, &deleted);
    app.m_pMainWnd = frame;
    EXPECT_FALSE(frame->LoadFrame(IDR_TEST_FRAME));
    EXPECT_TRUE(deleted);
    EXPECT_EQ(app.m_pMainWnd, nullptr);
    PumpUntilQuit(0);
}

TEST(Frame, AppRunReturnsTheQuitCode)
{
    TestApp app;
    PostQuitMessage(7);
    EXPECT_EQ(app.Run(), 7);
    EXPECT_EQ(app.ExitCode(), 7);
}

// An owner-drawn button that counts its paintings.
class CountingButton : public CButton {
public:
    std::atomic<int> draws{0};
    void DrawItem(DRAWITEMSTRUCT* item) override
    {
        ++draws;
        FillRect(item->hDC, &item->rcItem, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    }
};

class TestDialog : public CDialog {
public:
    TestDialog() : CDialog(IDD_TEST_DIALOG) {}
    CountingButton button;
    int drawsAtClick = -1;
    bool okRan = false;
    void OnDrawnClicked()
    {
        drawsAtClick = button.draws;
        EndDialog(42);
    }
    void OnEditChange() { g_ran.push_back("edit change"); }
    CORVANE_DECLARE_COMMAND_MAP()

protected:
    BOOL OnInitDialog() override
    {
        CDialog::OnInitDialog();
        button.SubclassDlgItem(IDC_TEST_DRAWN, this);
        SetDlgItemText(IDC_TEST_EDIT, "abc");  // sends EN_CHANGE
        SetTimer(1, 300);
        return TRUE;
    }
    void OnTimer(UINT_PTR id) override
    {
        KillTimer(id);
        // Click the owner-drawn button once it had time to be painted.
        PostMessage(WM_COMMAND, MAKEWPARAM(IDC_TEST_DRAWN, BN_CLICKED),
                    reinterpret_cast<LPARAM>(button.m_hWnd));
    }
};
CORVANE_COMMAND_MAP(TestDialog, CDialog,
    Command(IDC_TEST_DRAWN, &TestDialog::OnDrawnClicked),
    Command(IDC_TEST_EDIT, &TestDialog::OnEditChange, EN_CHANGE),
)

TEST(Dialog, ModalWithOwnerDrawnButtonAndCommandMap)
{
    TestApp app;
    g_ran.clear();
    TestDialog dialog;
    EXPECT_EQ(dialog.DoModal(), 42);
    EXPECT_GT(dialog.drawsAtClick, 0) << "the parent handed WM_DRAWITEM to the button";
    EXPECT_EQ(g_ran, (std::vector<std::string>{"edit change"}));
    EXPECT_EQ(dialog.m_hWnd, nullptr) << "unbound once the window is gone";
    EXPECT_EQ(dialog.button.m_hWnd, nullptr);
}

class EscapeDialog : public CDialog {
public:
    EscapeDialog() : CDialog(IDD_TEST_DIALOG) {}

protected:
    BOOL OnInitDialog() override
    {
        PostMessage(WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return TRUE;
    }
};

TEST(Dialog, CancelEndsWithIdCancelByDefault)
{
    TestApp app;
    EscapeDialog dialog;
    EXPECT_EQ(dialog.DoModal(), IDCANCEL);
}

TEST(Dialog, MissingTemplateGivesMinusOne)
{
    TestApp app;
    CDialog dialog(9999);
    EXPECT_EQ(dialog.DoModal(), -1);
}

TEST(MessageBox, HookAnswersInPlaceOfTheOperatorOnEveryThread)
{
    TestApp app;
    std::vector<corvane::MessageBoxRequest> seen;
    std::mutex lock;
    corvane::SetMessageBoxHook([&](const corvane::MessageBoxRequest& request) {
        std::lock_guard<std::mutex> guard(lock);
        seen.push_back(request);
        return IDYES;
    });
    EXPECT_EQ(AfxMessageBox(IDS_TEST_KOREAN, MB_YESNO), IDYES);
    DWORD workerId = 0;
    std::thread worker([&] {
        workerId = GetCurrentThreadId();
        CWnd nobody;
        nobody.MessageBox("from a worker", "확인", MB_OK | MB_ICONERROR);
    });
    worker.join();
    corvane::SetMessageBoxHook(nullptr);

    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].text, "OLE를 초기화할 수 없습니다.") << "the string resource in code page 949";
    EXPECT_EQ(seen[0].caption, "FrameworkTest");
    EXPECT_EQ(seen[0].type, static_cast<UINT>(MB_YESNO));
    EXPECT_EQ(seen[0].threadId, GetCurrentThreadId());
    EXPECT_EQ(seen[1].text, "from a worker");
    EXPECT_EQ(seen[1].caption, "확인");
    EXPECT_EQ(seen[1].threadId, workerId);
}

// Finds a shown message box of this process whose text is `text`.
struct BoxSearch {
    const char* text;
    HWND found;
};
BOOL CALLBACK FindBox(HWND window, LPARAM lParam)
{
    auto* search = reinterpret_cast<BoxSearch*>(lParam);
    char className[16] = {};
    GetClassNameA(window, className, sizeof className);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (std::string(className) != "#32770" || pid != GetCurrentProcessId() || !IsWindowVisible(window))
        return TRUE;
    // The box's text is its static control 0xFFFF.
    if (WindowTextOf(GetDlgItem(window, 0xFFFF)) == search->text) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

TEST(MessageBox, WithoutHookARealBoxThatATestCanFindAndDismiss)
{
    TestApp app;
    std::atomic<bool> dismissed{false};
    std::thread dismisser([&] {
        BoxSearch search{"실제 상자", nullptr};
        for (int i = 0; i < 100 && !search.found; ++i) {
            Sleep(100);
            EnumWindows(FindBox, reinterpret_cast<LPARAM>(&search));
        }
        if (search.found) {
            PostMessageA(search.found, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
            dismissed = true;
        }
    });
    EXPECT_EQ(AfxMessageBox("실제 상자", MB_OK), IDOK);
    dismisser.join();
    EXPECT_TRUE(dismissed);
}

TEST(Strings, LoadStringGivesAnsiTextOrEmpty)
{
    EXPECT_EQ(AfxLoadString(AFX_IDS_APP_TITLE), "FrameworkTest");
    EXPECT_EQ(AfxLoadString(IDS_TEST_KOREAN), "OLE를 초기화할 수 없습니다.");
    EXPECT_EQ(AfxLoadString(4242), "");
}

}  // namespace
