#include "framework/app_win.h"

#include <objbase.h>
#include <ole2.h>
#include <shobjidl.h>

#include <string>
#include <vector>

namespace {

CWinApp* g_application = nullptr;
bool g_oleStarted = false;

}  // namespace

CORVANE_COMMAND_MAP(CWinApp, CCmdTarget,
    Command(ID_APP_EXIT, &CWinApp::OnAppExit),
)

CWinApp::CWinApp(const char* appName) : m_appName(appName ? appName : "")
{
    g_application = this;
    m_mainThreadId = GetCurrentThreadId();
}

CWinApp::~CWinApp()
{
    if (g_application == this) g_application = nullptr;
}

BOOL CWinApp::InitInstance()
{
    if (!m_appId.IsEmpty()) {
        int length = MultiByteToWideChar(CP_ACP, 0, m_appId.c_str(), -1, nullptr, 0);
        std::wstring wide(static_cast<size_t>(length), L'\0');
        MultiByteToWideChar(CP_ACP, 0, m_appId.c_str(), -1, wide.data(), length);
        SetCurrentProcessExplicitAppUserModelID(wide.c_str());
    }
    return TRUE;
}

BOOL CWinApp::PreTranslateMessage(MSG* message)
{
    HWND root = message->hwnd ? GetAncestor(message->hwnd, GA_ROOT) : nullptr;
    CWnd* window = CWnd::FromHandlePermanent(root);
    return window && window->PreTranslateMessage(message);
}

int CWinApp::Run()
{
    MSG message;
    BOOL got;
    while ((got = GetMessageA(&message, nullptr, 0, 0)) != 0) {
        if (got == -1) break;
        if (PreTranslateMessage(&message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (got == 0) m_exitCode = static_cast<int>(message.wParam);
    BeginEnding();
    // A quit that came while the main frame still exists: the frame goes now (and
    // what it shows outside, such as a tray icon, with it), without posting a
    // quit of its own.
    if (CWnd* main = m_pMainWnd) {
        m_pMainWnd = nullptr;
        if (main->m_hWnd) ::DestroyWindow(main->m_hWnd);
    }
    return ExitInstance();
}

int CWinApp::ExitInstance()
{
    return m_exitCode;
}

void CWinApp::BeginEnding()
{
    if (m_ending.exchange(true)) return;
    OnEnding();
}

void CWinApp::OnEnding() {}

void CWinApp::NoteQuitAfterModalLoop()
{
    MSG message;
    if (GetCurrentThreadId() == m_mainThreadId && PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE))
        BeginEnding();
}

void CWinApp::OnAppExit()
{
    if (m_pMainWnd && m_pMainWnd->m_hWnd) m_pMainWnd->SendMessage(WM_CLOSE);
}

void CWinApp::SetRegistryKey(const char* company)
{
    m_registryKey = company ? company : "";
}

CWinApp* AfxGetApp() { return g_application; }

CWnd* AfxGetMainWnd()
{
    return g_application ? g_application->m_pMainWnd : nullptr;
}

HINSTANCE AfxGetInstanceHandle()
{
    if (g_application && g_application->m_hInstance) return g_application->m_hInstance;
    return GetModuleHandleA(nullptr);
}

const char* AfxGetAppName()
{
    return g_application ? g_application->AppName().c_str() : "";
}

CString AfxLoadString(UINT id)
{
    // LoadStringA cannot tell a cut text from a whole one: grow until it fits.
    for (int size = 256; size <= 65536; size *= 4) {
        std::vector<char> text(static_cast<size_t>(size));
        int length = LoadStringA(AfxGetInstanceHandle(), id, text.data(), size);
        if (length <= 0) return CString();
        if (length < size - 2) return CString(text.data(), static_cast<size_t>(length));
    }
    return CString();
}

int AfxWinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    CWinApp* app = AfxGetApp();
    if (!app) return -1;
    app->m_hInstance = instance;
    app->m_mainThreadId = GetCurrentThreadId();
    if (app->m_appName.IsEmpty()) app->m_appName = AfxLoadString(AFX_IDS_APP_TITLE);
    if (!app->InitInstance()) return app->ExitInstance();
    return app->Run();
}

BOOL AfxOleInit()
{
    if (g_oleStarted) return TRUE;
    HRESULT result = OleInitialize(nullptr);
    if (FAILED(result)) return FALSE;
    g_oleStarted = true;
    return TRUE;
}

void AfxOleTerm(BOOL)
{
    if (!g_oleStarted) return;
    g_oleStarted = false;
    OleUninitialize();
}
