#include "biometric/fingerprint_screens_win.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <cstdio>
#include <string>

#include "biometric/biu_message_box.h"
#include "framework/app_win.h"
#include "resources/fingerprint_ids.h"

namespace {

std::atomic<uint32_t> g_silenceLimitMs{30000};

struct FingerButton {
    UINT id;
    int finger;
    RECT rect;
    const char* tip;
};
const FingerButton kFingerButtons[10] = {
    {3002, 10, {49, 133, 60, 144}, "L5 '-'"},  {3003, 9, {74, 109, 85, 120}, "L4 '-'"},
    {3004, 8, {100, 101, 111, 112}, "L3 '-'"}, {3005, 7, {132, 111, 143, 122}, "L2 '-'"},
    {3006, 6, {174, 172, 185, 183}, "L1 '-'"}, {3007, 5, {318, 126, 329, 137}, "R5 '-'"},
    {3008, 4, {293, 104, 304, 115}, "R4 '-'"}, {3009, 3, {267, 96, 278, 107}, "R3 '-'"},
    {3010, 2, {235, 106, 246, 117}, "R2 '-'"}, {3011, 1, {201, 169, 212, 180}, "R1 '-'"},
};
const RECT kCancelRect = {300, 340, 360, 365};
const RECT kNextRect = {150, 190, 210, 215};

constexpr DWORD kButtonStyle = WS_CHILD | WS_VISIBLE | BS_OWNERDRAW;

HBITMAP LoadMapped(UINT id)
{
    return static_cast<HBITMAP>(
        LoadImageA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(id), IMAGE_BITMAP, 0, 0, LR_LOADMAP3DCOLORS));
}

SIZE ClientSize(HWND window)
{
    RECT r{};
    ::GetClientRect(window, &r);
    return {r.right - r.left, r.bottom - r.top};
}

}  // namespace

// ------------------------------------------------------------ CFingerprintScreen

uint32_t CFingerprintScreen::SilenceLimitMs() { return g_silenceLimitMs.load(); }
void CFingerprintScreen::SetSilenceLimitMs(uint32_t ms) { g_silenceLimitMs = ms; }

void CFingerprintScreen::ShowBox(const char* text, bool appCaption)
{
    const DWORD thread = GetCurrentThreadId();
    {
        std::lock_guard<std::mutex> hold(m_BoxLock);
        m_BoxThreads.push_back(thread);
    }
    ShowBiuMessageBox(m_hWnd, text, appCaption ? AfxGetAppName() : "확인", kBiuBoxOk);
    std::lock_guard<std::mutex> hold(m_BoxLock);
    m_BoxThreads.erase(std::find(m_BoxThreads.begin(), m_BoxThreads.end(), thread));
}

void CFingerprintScreen::CloseReaderBoxes()
{
    std::vector<DWORD> threads;
    {
        std::lock_guard<std::mutex> hold(m_BoxLock);
        threads = m_BoxThreads;
    }
    for (DWORD thread : threads) {
        if (thread == GetCurrentThreadId()) continue;
        // A box is a dialog of its thread's with an OK button; pressed, it
        // returns as if the operator had.
        EnumThreadWindows(
            thread,
            [](HWND window, LPARAM) CALLBACK -> BOOL {
                char name[16] = {};
                GetClassNameA(window, name, sizeof name);
                HWND ok = ::GetDlgItem(window, IDOK);
                if (std::strcmp(name, "#32770") == 0 && ok)
                    ::PostMessageA(window, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(ok));
                return TRUE;
            },
            0);
    }
}

void CFingerprintScreen::StartRetryTimer(unsigned id, unsigned ms)
{
    ::PostMessageA(m_hWnd, kScreenAction, kStartTimer, MAKELPARAM(id, ms));
}

void CFingerprintScreen::ShowScanImage(bool confirmation, const ScanImage& image)
{
    ImageAction action{confirmation, &image};
    ::SendMessageA(m_hWnd, kScreenAction, kShowImage, reinterpret_cast<LPARAM>(&action));
}

void CFingerprintScreen::FinishRegistration()
{
    ::SendMessageA(m_hWnd, kScreenAction, kFinish, 0);
}

void CFingerprintScreen::CloseScreen()
{
    ::PostMessageA(m_hWnd, kScreenAction, kClose, 0);
}

void CFingerprintScreen::Repaint()
{
    ::InvalidateRect(m_hWnd, nullptr, FALSE);
}

LRESULT CFingerprintScreen::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message != kScreenAction) return CDialog::WindowProc(message, wParam, lParam);
    switch (wParam) {
    case kStartTimer:
        SetTimer(LOWORD(lParam), HIWORD(lParam));
        break;
    case kShowImage: {
        const auto* action = reinterpret_cast<const ImageAction*>(lParam);
        OnShowScanImage(action->confirmation, *action->image);
        break;
    }
    case kFinish:
        OnFinishRegistration();
        break;
    case kClose:
        EndDialog(IDOK);
        break;
    default:
        break;
    }
    return 0;
}

void CFingerprintScreen::ComeToFront()
{
    HWND foreground = ::GetForegroundWindow();
    if (!foreground || foreground == m_hWnd) return;
    const DWORD other = GetWindowThreadProcessId(foreground, nullptr);
    const DWORD mine = GetCurrentThreadId();
    if (other == mine) return;
    if (AttachThreadInput(mine, other, TRUE)) {
        ::BringWindowToTop(m_hWnd);
        AttachThreadInput(mine, other, FALSE);
    }
}

void CFingerprintScreen::FitClientTo(int width, int height)
{
    // The background picture is the screen: the client area takes its size.
    RECT r{0, 0, width, height};
    AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongPtrA(m_hWnd, GWL_STYLE)), FALSE,
                       static_cast<DWORD>(GetWindowLongPtrA(m_hWnd, GWL_EXSTYLE)));
    ::SetWindowPos(m_hWnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top, SWP_NOMOVE | SWP_NOZORDER);
}

void CFingerprintScreen::ShowCentredInFront()
{
    RECT r;
    GetWindowRect(&r);
    const int w = r.right - r.left, h = r.bottom - r.top;
    ::SetWindowPos(m_hWnd, nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2,
                   0, 0, SWP_NOSIZE | SWP_NOZORDER);
    ShowWindow(SW_RESTORE);
    SetForegroundWindow();
}

// ------------------------------------------------------------------ CMainPage

CMainPage::CMainPage(const FingerprintRegistration& input) : CFingerprintScreen(IDD_FINGER_REGIST), m_Input(input)
{
    m_pScan = std::make_unique<CRegistScan>(*input.device, input.productKey, *this, input.user, input.registered,
                                           input.registeredCount);
}

CMainPage::~CMainPage()
{
    m_pScan->Join();
    for (int i = 0; i < 2; ++i) {
        if (m_hMemDC[i]) {
            if (m_hOldImage[i]) SelectObject(m_hMemDC[i], m_hOldImage[i]);
            DeleteDC(m_hMemDC[i]);
        }
        if (m_hImage[i]) DeleteObject(m_hImage[i]);
        if (m_hHands[i]) DeleteObject(m_hHands[i]);
    }
    for (HBITMAP page : m_hPages)
        if (page) DeleteObject(page);
}

BOOL CMainPage::OnInitDialog()
{
    CDialog::OnInitDialog();
    ComeToFront();
    m_Background.Load(IDB_REGIST_BACKGROUND, "BMP");

    std::string flags;
    for (int32_t flag : m_Input.registered) {
        char group[16];
        std::snprintf(group, sizeof group, "[%02X]", static_cast<unsigned>(flag));
        flags += group;
    }
    ExchangeTrace().Data("******************************************************");
    ExchangeTrace().Data(flags);

    for (int i = 0; i < 10; ++i) {
        const FingerButton& b = kFingerButtons[i];
        CImageButton& button = m_Fingers[i];
        button.Create("", kButtonStyle, b.rect, this, b.id);
        if (m_pScan->IsRegistered(b.finger))
            button.LoadBitmaps(IDB_FINGER_REGISTERED, IDB_FINGER_REGISTERED, IDB_FINGER_REGISTERED,
                               IDB_FINGER_REGISTERED, IDB_FINGER_REGISTERED, IDB_FINGER_REGISTERED);
        else
            button.LoadBitmaps(IDB_FINGER_FREE, IDB_FINGER_REGISTERED, IDB_FINGER_FREE_LIT, IDB_FINGER_FREE,
                               IDB_FINGER_FREE_LIT, IDB_FINGER_FREE);
        button.SetToolTipText(b.tip);
    }
    m_Cancel.Create("", kButtonStyle, kCancelRect, this, IDC_REGIST_CANCEL);
    m_Cancel.LoadBitmaps(IDB_REGIST_CANCEL, IDB_REGIST_CANCEL_PRESSED, IDB_REGIST_CANCEL_HOVER, IDB_REGIST_CANCEL,
                         IDB_REGIST_CANCEL_HOVER, IDB_REGIST_CANCEL);
    m_Cancel.SetToolTipText("취소 '-'");
    m_Done.Create("", kButtonStyle, kCancelRect, this, IDC_REGIST_CANCEL);
    m_Done.LoadBitmaps(IDB_DONE, IDB_DONE_PRESSED, IDB_DONE_HOVER, IDB_DONE, IDB_DONE_HOVER, IDB_DONE);
    m_Done.SetToolTipText("완료 '-'");
    m_Done.ShowWindow(SW_HIDE);
    for (CImageButton* button : {&m_Fingers[0], &m_Fingers[1], &m_Fingers[2], &m_Fingers[3], &m_Fingers[4],
                                 &m_Fingers[5], &m_Fingers[6], &m_Fingers[7], &m_Fingers[8], &m_Fingers[9],
                                 &m_Cancel, &m_Done})
        ::SetWindowPos(button->m_hWnd, HWND_TOP, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);

    m_hPages[0] = LoadMapped(IDB_PAGE_CHOOSE);
    m_hPages[1] = LoadMapped(IDB_PAGE_SCAN);
    m_hPages[2] = LoadMapped(IDB_PAGE_DONE);
    m_hHands[0] = LoadMapped(IDB_SCAN_HAND_1);
    m_hHands[1] = LoadMapped(IDB_SCAN_HAND_2);
    SetPage(m_hPages[0]);
    ::MoveWindow(GetDlgItem(IDC_PAGE_PICTURE), 22, 31, 336, 302, TRUE);
    ::ShowWindow(GetDlgItem(IDC_FIRST_FRAME), SW_HIDE);
    ::ShowWindow(GetDlgItem(IDC_SECOND_FRAME), SW_HIDE);
    ::ShowWindow(GetDlgItem(IDC_HAND_PICTURE), SW_HIDE);

    HDC screen = ::GetDC(m_hWnd);
    m_hMemDC[0] = CreateCompatibleDC(screen);
    m_hMemDC[1] = CreateCompatibleDC(screen);
    ::ReleaseDC(m_hWnd, screen);

    m_pScan->StartReading();
    ExchangeTrace().Label("===============> Start User Regist <===============");
    FitClientTo(m_Background.Width(), m_Background.Height());
    SetTimer(kSilenceTimer, 1000);
    ShowCentredInFront();
    return TRUE;
}

void CMainPage::SetPage(HBITMAP page)
{
    HWND picture = GetDlgItem(IDC_PAGE_PICTURE);
    ::ShowWindow(picture, SW_HIDE);
    ::SendMessageA(picture, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(page));
    ::ShowWindow(picture, SW_SHOW);
}

BOOL CMainPage::OnCmdMsg(UINT id, UINT code)
{
    if (code == BN_CLICKED && FingerOfButton(id)) {
        OnFingerButton(FingerOfButton(id));
        return TRUE;
    }
    if (code == BN_CLICKED && id == IDC_REGIST_CANCEL) {
        OnCancelRegist();
        return TRUE;
    }
    return CFingerprintScreen::OnCmdMsg(id, code);
}

void CMainPage::OnFingerButton(int finger)
{
    if (m_pScan->Step() != 1) return;
    if (m_pScan->IsRegistered(finger)) {
        ShowBox("이미 등록한 손가락입니다.", false);
        return;
    }
    m_pScan->StartFingerRegist(static_cast<uint8_t>(finger));
    StartFingerRegist();
}

void CMainPage::StartFingerRegist()
{
    for (CImageButton& b : m_Fingers) b.ShowWindow(SW_HIDE);
    m_Cancel.ShowWindow(SW_HIDE);
    m_Done.ShowWindow(SW_HIDE);
    SetPage(m_hPages[1]);
    HWND hand = GetDlgItem(IDC_HAND_PICTURE);
    ::SendMessageA(hand, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(m_hHands[0]));
    ::SetWindowPos(hand, HWND_TOP, 162, 132, 160, 115, SWP_SHOWWINDOW);
    ::MoveWindow(GetDlgItem(IDC_FIRST_FRAME), 53, 86, 77, 87, FALSE);
    ::MoveWindow(GetDlgItem(IDC_SECOND_FRAME), 53, 205, 77, 86, FALSE);
    SetTimer(1000, 1000);
}

void CMainPage::EndFingerRegist()
{
    KillTimer(1000);
    SetPage(m_hPages[2]);
    ::ShowWindow(GetDlgItem(IDC_HAND_PICTURE), SW_HIDE);
    ::ShowWindow(GetDlgItem(IDC_FIRST_FRAME), SW_HIDE);
    ::ShowWindow(GetDlgItem(IDC_SECOND_FRAME), SW_HIDE);
    m_Cancel.ShowWindow(SW_HIDE);
    m_Done.ShowWindow(SW_SHOW);
    m_pScan->SetStep(3);
}

void CMainPage::OnCancelRegist()
{
    const int step = m_pScan->Step();
    m_pScan->StopRunning();
    ShowBox(step == 3 ? "지문 등록을 종료합니다." : "지문 등록을 취소합니다.", false);
    EndDialog(IDCANCEL);
}

void CMainPage::OnTimer(UINT_PTR id)
{
    switch (id) {
    case 1000: {
        HWND hand = GetDlgItem(IDC_HAND_PICTURE);
        ::SendMessageA(hand, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(m_hHands[m_nBlink ? 0 : 1]));
        m_nBlink = !m_nBlink;
        break;
    }
    case CRegistScan::kRepeatFirstTimer:
    case CRegistScan::kRepeatConfirmationTimer:
        KillTimer(id);
        m_pScan->OnRetryTimer(static_cast<unsigned>(id));
        break;
    case kSilenceTimer:
        if (m_pScan->Step() == 2 && !m_bWayOutOffered && m_pScan->SilentForMs() > SilenceLimitMs()) {
            m_bWayOutOffered = true;
            m_Cancel.ShowWindow(SW_SHOW);
            ShowBox("지문 입력 장치가 응답하지 않습니다. 취소 버튼으로 등록을 끝낼 수 있습니다.", false);
        }
        break;
    default:
        CFingerprintScreen::OnTimer(id);
        break;
    }
}

void CMainPage::OnShowScanImage(bool confirmation, const ScanImage& image)
{
    if (confirmation)
        DrawConfirmImage(image);
    else
        DrawScanImage(image);
}

void CMainPage::DrawImage(int which, const ScanImage& image, int top, HWND frame)
{
    if (m_hImage[which]) {
        SelectObject(m_hMemDC[which], m_hOldImage[which]);
        DeleteObject(m_hImage[which]);
        m_hImage[which] = nullptr;
    }
    HDC screen = ::GetDC(m_hWnd);
    if (image.width > 0 && image.height > 0) {
        m_hImage[which] = CreateCompatibleBitmap(screen, image.width, image.height);
        m_hOldImage[which] = SelectObject(m_hMemDC[which], m_hImage[which]);
        BITMAPINFO info{};
        info.bmiHeader.biSize = sizeof info.bmiHeader;
        info.bmiHeader.biWidth = image.width;
        info.bmiHeader.biHeight = -image.height;  // rows from the top
        info.bmiHeader.biPlanes = 1;
        info.bmiHeader.biBitCount = 32;
        info.bmiHeader.biCompression = BI_RGB;
        SetDIBitsToDevice(m_hMemDC[which], 0, 0, image.width, image.height, 0, 0, 0, image.height,
                          image.pixels.data(), &info, DIB_RGB_COLORS);
    }
    const SIZE client = ClientSize(frame);
    if (m_hImage[which])
        StretchBlt(screen, 53, top, client.cx, client.cy + 3, m_hMemDC[which], 0, 0, image.width, image.height,
                   SRCCOPY);
    m_bImageShown[which] = true;

    // The mark over the image: loaded, inverted, OR'ed on.
    HBITMAP mark = static_cast<HBITMAP>(
        LoadImageA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDB_SCAN_MARK), IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    if (mark) {
        HDC markDC = CreateCompatibleDC(screen);
        HGDIOBJ old = SelectObject(markDC, mark);
        PatBlt(markDC, 0, 0, 91, 38, DSTINVERT);
        StretchBlt(screen, 53 + (client.cx - 81) / 2, top + (client.cy - 34) / 2, 81, 34, markDC, 0, 0, 91, 38,
                   SRCPAINT);
        SelectObject(markDC, old);
        DeleteDC(markDC);
        DeleteObject(mark);
    }
    ::ReleaseDC(m_hWnd, screen);
}

void CMainPage::DrawScanImage(const ScanImage& image)
{
    m_nImageWidth = image.width;
    m_nImageHeight = image.height;
    DrawImage(0, image, 88, GetDlgItem(IDC_FIRST_FRAME));
}

void CMainPage::DrawConfirmImage(const ScanImage& image)
{
    DrawImage(1, image, 205, GetDlgItem(IDC_SECOND_FRAME));
}

void CMainPage::OnPaint()
{
    CPaintDC dc(this);
    m_Background.Draw(dc);
    if (m_pScan->Step() != 2) return;
    const int tops[2] = {88, 205};
    const HWND frames[2] = {GetDlgItem(IDC_FIRST_FRAME), GetDlgItem(IDC_SECOND_FRAME)};
    for (int i = 0; i < 2; ++i) {
        if (!m_bImageShown[i] || !m_hImage[i]) continue;
        const SIZE client = ClientSize(frames[i]);
        StretchBlt(dc, 53, tops[i], client.cx + 27, client.cy + 3, m_hMemDC[i], 0, 0, m_nImageWidth, m_nImageHeight,
                   SRCCOPY);
    }
}

// -------------------------------------------------------------------- CVerify

CVerify::CVerify(const FingerprintVerification& input) : CFingerprintScreen(IDD_FINGER_VERIFY), m_Input(input)
{
    m_pScan = std::make_unique<CVerifyScan>(*input.device, input.productKey, *this, input.regId);
}

CVerify::~CVerify()
{
    m_pScan->Join();
}

BOOL CVerify::OnInitDialog()
{
    CDialog::OnInitDialog();
    ComeToFront();
    m_Background.Load(IDB_VERIFY_BACKGROUND, "BMP");
    m_Next.Create("", kButtonStyle, kNextRect, this, IDC_VERIFY_NEXT);
    m_Next.LoadBitmaps(IDB_DONE, IDB_DONE_PRESSED, IDB_DONE_HOVER, IDB_DONE, IDB_DONE_HOVER, IDB_DONE);
    m_Next.SetToolTipText("다음 '-'");
    m_pScan->StartReading();
    FitClientTo(m_Background.Width(), m_Background.Height());
    ShowCentredInFront();
    SetTimer(1000, 1000);
    SetTimer(kSilenceTimer, 1000);
    return TRUE;
}

void CVerify::OnPaint()
{
    CPaintDC dc(this);
    m_Background.Draw(dc);
}

BOOL CVerify::OnCmdMsg(UINT id, UINT code)
{
    if (code == BN_CLICKED && id == IDC_VERIFY_NEXT) {
        OnNext();
        return TRUE;
    }
    return CFingerprintScreen::OnCmdMsg(id, code);
}

void CVerify::OnTimer(UINT_PTR id)
{
    if (id == 1000) {
        KillTimer(1000);
        m_pScan->OnPromptTimer();
    } else if (id == kSilenceTimer) {
        if (!m_bSilenceTold && m_pScan->SilentForMs() > SilenceLimitMs()) {
            m_bSilenceTold = true;
            ShowBox("지문 입력 장치가 응답하지 않습니다. 완료 버튼을 눌러 화면을 닫으세요.", false);
        }
    } else {
        CFingerprintScreen::OnTimer(id);
    }
}

void CVerify::OnNext()
{
    m_pScan->StopRunning();
    EndDialog(IDOK);
}

// ------------------------------------------------------- CWindowsFingerprintScreens

void CWindowsFingerprintScreens::RunRegistration(const FingerprintRegistration& input)
{
    CMainPage page(input);
    page.DoModal();
}

void CWindowsFingerprintScreens::RunVerification(const FingerprintVerification& input)
{
    CVerify verify(input);
    verify.DoModal();
}
