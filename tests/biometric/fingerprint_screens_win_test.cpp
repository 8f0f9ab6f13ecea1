// The fingerprint screens as the operator sees them, under a display: ids 67
// and 68 run through the command table on a client thread of their own and
// through the command server as the page sends them, with the fingerprint-unit
// simulator behind the HID seam. The test
// presses the screens' buttons by message, reads every message box the
// screens show (real boxes) and dismisses it, and keeps a screenshot of each
// step in screens/ under the test's build folder.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent/commands/obu_issue_ctrl.h"
#include "agent/server/http_server_win.h"
#include "biometric/biu_controller.h"
#include "biometric/biu_message_box.h"
#include "biometric/fingerprint_screens_win.h"
#include "framework/app_win.h"
#include "framework/clock.h"
#include "tests/sim/biu_simulator.h"
#include "tests/sim/sim_hid_platform.h"

namespace {

// The program's application object, named as the agent's is (its title
// string): the boxes captioned with the application's name show it.
CWinApp g_application("Corvane");
const char kAppCaption[] = " | Corvane";

const char kKeyText[] = "31415926535897932384626433832795";
const uint8_t kProduct[16] = {0x31, 0x41, 0x59, 0x26, 0x53, 0x58, 0x97, 0x93,
                              0x23, 0x84, 0x62, 0x64, 0x33, 0x83, 0x27, 0x95};

// Saves the screen area around `window` (and the boxes over it) as a BMP.
void Screenshot(HWND window, const std::string& name)
{
    CreateDirectoryA("screens", nullptr);
    RECT r{0, 0, 640, 600};
    if (window) GetWindowRect(window, &r);
    InflateRect(&r, 60, 60);
    if (r.left < 0) r.left = 0;
    if (r.top < 0) r.top = 0;
    const int w = r.right - r.left, h = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = w;
    info.bmiHeader.biHeight = h;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, w, h, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    const DWORD rowBytes = (static_cast<DWORD>(w) * 3 + 3) & ~3u;
    const DWORD imageBytes = rowBytes * static_cast<DWORD>(h);
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + imageBytes;
    if (FILE* out = std::fopen(("screens/" + name + ".bmp").c_str(), "wb")) {
        std::fwrite(&file, sizeof file, 1, out);
        std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out);
        std::fwrite(bits, 1, imageBytes, out);
        std::fclose(out);
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
}

// Real boxes: each is shown with MessageBoxA; a helper waits for it, keeps a
// screenshot, reads it and presses its OK button.
class OperatorBoxes : public BiuMessageBoxes {
public:
    // `prefix`: the boxes' screenshots are kept under it; empty: none kept.
    explicit OperatorBoxes(std::string prefix = "") : m_prefix(std::move(prefix)) {}

    int Show(BiuOwnerWindow owner, const char* text, const char* caption, unsigned type) override
    {
        std::string shot;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            texts.push_back(std::string(text) + " | " + caption);
            char name[64];
            std::snprintf(name, sizeof name, "%s-%02d-box", m_prefix.c_str(), static_cast<int>(texts.size()));
            if (!m_prefix.empty()) shot = name;
        }
        const DWORD thread = GetCurrentThreadId();
        HWND ownerWindow = static_cast<HWND>(owner);
        const std::string shown(text);
        if (shown == leaveOpen) {
            m_leftOpenThread = thread;
            const int answer = MessageBoxA(ownerWindow, text, caption, type);
            ++closed;
            return answer;
        }
        std::thread dismiss([thread, ownerWindow, shot, shown] {
            for (int i = 0; i < 300; ++i) {
                HWND box = FindBox(thread, shown);
                if (box) {
                    if (!shot.empty()) {
                        corvane::SleepMs(250);  // drawn
                        Screenshot(ownerWindow ? ownerWindow : box, shot);
                    }
                    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                                 reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
                    return;
                }
                corvane::SleepMs(20);
            }
        });
        const int answer = MessageBoxA(ownerWindow, text, caption, type);
        dismiss.join();
        ++closed;
        return answer;
    }
    std::vector<std::string> Texts()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return texts;
    }

private:
    // The box of `thread` that shows `text` (boxes can stand over one another).
    static HWND FindBox(DWORD thread, const std::string& text)
    {
        struct Search {
            const std::string* text;
            HWND found;
        } search{&text, nullptr};
        EnumThreadWindows(
            thread,
            [](HWND w, LPARAM p) CALLBACK -> BOOL {
                auto* s = reinterpret_cast<Search*>(p);
                char cls[16] = {};
                GetClassNameA(w, cls, sizeof cls);
                char shown[512] = {};
                GetDlgItemTextA(w, 0xFFFF, shown, sizeof shown);  // the box's text
                if (std::string(cls) == "#32770" && IsWindowVisible(w) && GetDlgItem(w, IDOK) &&
                    *s->text == shown) {
                    s->found = w;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

public:
    // Presses the box left open, if it still stands.
    void PressLeftOpen()
    {
        if (HWND box = FindBox(m_leftOpenThread, leaveOpen))
            PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    }

    std::atomic<size_t> closed{0};
    // A box with this text is shown and left for the screen to close.
    std::string leaveOpen;

private:
    std::atomic<DWORD> m_leftOpenThread{0};
    std::string m_prefix;
    std::mutex m_lock;
    std::vector<std::string> texts;
};

// The screen window of `thread` (0: of any thread of the process): a visible
// dialog with a client area `width` wide and no OK button (not a box).
HWND WaitForScreen(DWORD thread, int width)
{
    struct Search {
        DWORD thread;
        int width;
        HWND found;
    };
    for (int i = 0; i < 250; ++i) {
        Search search{thread, width, nullptr};
        EnumWindows(
            [](HWND w, LPARAM p) CALLBACK -> BOOL {
                auto* s = reinterpret_cast<Search*>(p);
                DWORD process = 0;
                const DWORD owner = GetWindowThreadProcessId(w, &process);
                char cls[16] = {};
                GetClassNameA(w, cls, sizeof cls);
                RECT r{};
                GetClientRect(w, &r);
                if (process == GetCurrentProcessId() && (s->thread == 0 || owner == s->thread) &&
                    IsWindowVisible(w) && std::string(cls) == "#32770" && r.right == s->width &&
                    !GetDlgItem(w, IDOK)) {
                    s->found = w;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        if (search.found) return search.found;
        corvane::SleepMs(20);
    }
    // A screen that never came would leave its client thread hanging.
    std::printf("no fingerprint screen came\n");
    std::fflush(stdout);
    std::_Exit(3);
}

bool DoneShown(HWND screen)
{
    bool shown = false;
    EnumChildWindows(
        screen,
        [](HWND w, LPARAM p) CALLBACK -> BOOL {
            if (GetDlgCtrlID(w) == 2002 && IsWindowVisible(w)) *reinterpret_cast<bool*>(p) = true;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&shown));
    return shown;
}

// A rectangle as "left,top,right,bottom" (readable in a failed expectation).
std::string Text(const RECT& r)
{
    return std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
           std::to_string(r.bottom);
}

// The rectangle of `control` in its dialog's client area.
std::string PlaceOf(HWND dialog, HWND control)
{
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&r), 2);
    return Text(r);
}
std::string PlaceOf(HWND dialog, int id) { return PlaceOf(dialog, GetDlgItem(dialog, id)); }

// A template's rectangle in dialog units, in pixels as the dialog converts it.
std::string InDialogUnits(HWND dialog, int x, int y, int width, int height)
{
    RECT r{x, y, x + width, y + height};
    MapDialogRect(dialog, &r);
    return Text(r);
}

std::string ClientSize(HWND window)
{
    RECT r{};
    GetClientRect(window, &r);
    return std::to_string(r.right) + "x" + std::to_string(r.bottom);
}

// The children of `dialog` with control id `id` (the cancel and done buttons share one).
std::vector<HWND> Children(HWND dialog, int id)
{
    struct Search {
        int id;
        std::vector<HWND> found;
    } search{id, {}};
    EnumChildWindows(
        dialog,
        [](HWND w, LPARAM p) CALLBACK -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            if (GetDlgCtrlID(w) == s->id) s->found.push_back(w);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// The ten finger marks, ids 3002 (L5) to 3011 (R1), in pixels.
const RECT kFingerMarks[10] = {
    {49, 133, 60, 144},  {74, 109, 85, 120},  {100, 101, 111, 112}, {132, 111, 143, 122}, {174, 172, 185, 183},
    {318, 126, 329, 137}, {293, 104, 304, 115}, {267, 96, 278, 107}, {235, 106, 246, 117}, {201, 169, 212, 180},
};

// Step 1 of the registration screen: the background's size, the page picture
// moved to 22, 31 at its 336 x 302, the hand picture and the two image frames
// where the template puts them (hidden), the ten marks, the cancel and done
// buttons on one rectangle, only the cancel button visible.
void ExpectChoiceLayout(HWND screen)
{
    EXPECT_EQ(ClientSize(screen), "380x451");
    EXPECT_EQ(PlaceOf(screen, 1057), "22,31,358,333");
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(screen, 1057)));
    EXPECT_EQ(PlaceOf(screen, 1058), InDialogUnits(screen, 134, 91, 107, 77));
    EXPECT_EQ(PlaceOf(screen, 1060), InDialogUnits(screen, 116, 191, 59, 72));
    EXPECT_EQ(PlaceOf(screen, 1059), InDialogUnits(screen, 178, 192, 60, 71));
    for (int id : {1058, 1060, 1059}) EXPECT_FALSE(IsWindowVisible(GetDlgItem(screen, id))) << id;
    for (int i = 0; i < 10; ++i) {
        EXPECT_EQ(PlaceOf(screen, 3002 + i), Text(kFingerMarks[i])) << 3002 + i;
        EXPECT_TRUE(IsWindowVisible(GetDlgItem(screen, 3002 + i))) << 3002 + i;
    }
    const std::vector<HWND> cancelAndDone = Children(screen, 2002);
    ASSERT_EQ(cancelAndDone.size(), 2u);
    for (HWND button : cancelAndDone) EXPECT_EQ(PlaceOf(screen, button), "300,340,360,365");
    EXPECT_EQ(IsWindowVisible(cancelAndDone[0]) + IsWindowVisible(cancelAndDone[1]), 1);
}

// Step 3, after the scans: the page picture in place, the hand picture and
// the frames hidden where step 2 moved them (162, 132 at 160 x 115; 53, 86 at
// 77 x 87; 53, 205 at 77 x 86), the marks hidden, only the done button shown.
void ExpectDoneLayout(HWND screen)
{
    EXPECT_EQ(PlaceOf(screen, 1057), "22,31,358,333");
    EXPECT_EQ(PlaceOf(screen, 1058), "162,132,322,247");
    EXPECT_EQ(PlaceOf(screen, 1060), "53,86,130,173");
    EXPECT_EQ(PlaceOf(screen, 1059), "53,205,130,291");
    for (int id : {1058, 1060, 1059}) EXPECT_FALSE(IsWindowVisible(GetDlgItem(screen, id))) << id;
    for (int id = 3002; id <= 3011; ++id) EXPECT_FALSE(IsWindowVisible(GetDlgItem(screen, id))) << id;
    const std::vector<HWND> cancelAndDone = Children(screen, 2002);
    ASSERT_EQ(cancelAndDone.size(), 2u);
    for (HWND button : cancelAndDone) EXPECT_EQ(PlaceOf(screen, button), "300,340,360,365");
    EXPECT_EQ(IsWindowVisible(cancelAndDone[0]) + IsWindowVisible(cancelAndDone[1]), 1);
}

void Press(HWND screen, int id, HWND button = nullptr)
{
    PostMessageA(screen, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

// Waits until `count` boxes have been shown and closed again (so that the next
// press reaches the screen, not a box over it).
std::vector<std::string> WaitForClosedBoxes(OperatorBoxes& boxes, size_t count, int limitMs = 20000)
{
    for (int waited = 0; waited < limitMs && boxes.closed < count; waited += 20) corvane::SleepMs(20);
    corvane::SleepMs(50);
    return boxes.Texts();
}

class FingerprintScreens : public ::testing::Test {
protected:
    void SetUp() override
    {
        unit.PlugInto(sim);
        g_BIUIssueCtrl.UseScreens(&screens);
        CString result;
        ASSERT_TRUE(ctrl.RunCommand(61, kKeyText, result));
        ASSERT_EQ(result, "2");
    }
    void TearDown() override
    {
        CString result;
        ctrl.RunCommand(62, "", result);
        g_BIUIssueCtrl.UseScreens(nullptr);
    }
    // Runs command `id` on a client thread of its own.
    void RunOnClientThread(int id, const char* param)
    {
        client = std::thread([this, id, param] {
            clientThread = GetCurrentThreadId();
            CString result;
            ctrl.RunCommand(id, param, result);
            answer = result.str();
            answered = true;
        });
        while (!clientThread) corvane::SleepMs(5);
    }
    std::string WaitForAnswer()
    {
        for (int i = 0; i < 1000 && !answered; ++i) corvane::SleepMs(20);
        if (client.joinable()) client.join();
        return answer;
    }

    SimHidPlatform sim;
    ScopedHidPlatform active{sim};
    BiuSimulator unit{kProduct};
    CWindowsFingerprintScreens screens;
    COBUIssueCtrl ctrl;
    std::thread client;
    std::atomic<DWORD> clientThread{0};
    std::atomic<bool> answered{false};
    std::string answer;
};

TEST_F(FingerprintScreens, RegistrationOfOneFingerStepByStep)
{
    OperatorBoxes boxes("reg");
    ScopedBiuMessageBoxes scope(boxes);
    unit.scans.push_back(BiuSimulator::OneBitScan(96, 112));
    unit.scans.push_back(BiuSimulator::EightBitScan(96, 112));
    RunOnClientThread(67, "21300");  // user 2, fingers 1 and 3 registered

    HWND screen = WaitForScreen(clientThread, 380);
    ASSERT_TRUE(screen);
    corvane::SleepMs(400);
    Screenshot(screen, "reg-00-choose-finger");
    ExpectChoiceLayout(screen);
    // Another connection asks for the unit's state while the screen is open:
    // answered at once, not after the screen.
    std::atomic<bool> stateAnswered{false};
    std::string state;
    std::thread other([&] {
        CString result;
        ctrl.RunCommand(63, "", result);
        state = result.str();
        stateAnswered = true;
    });
    for (int i = 0; i < 200 && !stateAnswered; ++i) corvane::SleepMs(10);
    EXPECT_TRUE(stateAnswered);
    if (!stateAnswered) Press(screen, 2002);  // ends the screen, and with it the wait
    other.join();
    EXPECT_EQ(state, "2");
    ASSERT_TRUE(IsWindow(screen));
    // Escape and Enter do nothing.
    PostMessageA(screen, WM_COMMAND, IDCANCEL, 0);
    PostMessageA(screen, WM_COMMAND, IDOK, 0);
    corvane::SleepMs(200);
    ASSERT_TRUE(IsWindow(screen));

    Press(screen, 3011);  // R1: registered already
    EXPECT_EQ(WaitForClosedBoxes(boxes, 1).back(), "이미 등록한 손가락입니다. | 확인");
    Press(screen, 3010);  // R2
    auto texts = WaitForClosedBoxes(boxes, 3);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[1], "등록 지문을 입력하세요. | 확인");
    EXPECT_EQ(texts[2], "확인 지문을 입력하세요. | 확인");
    // Step 3 shows the done button (id 2002, as the cancel button).
    for (int i = 0; i < 500 && !DoneShown(screen); ++i) corvane::SleepMs(20);
    corvane::SleepMs(300);
    Screenshot(screen, "reg-04-done-page");
    ExpectDoneLayout(screen);
    Press(screen, 2002);  // done
    texts = WaitForClosedBoxes(boxes, 4);
    EXPECT_EQ(texts.back(), "지문 등록을 종료합니다. | 확인");
    EXPECT_EQ(WaitForAnswer(), "2");

    // The requests of the finger slot: two fingers registered, finger 2 in slot 2.
    std::vector<std::vector<uint8_t>> scans;
    for (const auto& m : unit.Observed().messages)
        if (m[0] == 0x21) scans.push_back(m);
    ASSERT_EQ(scans.size(), 2u);
    EXPECT_EQ(std::vector<uint8_t>(scans[0].begin(), scans[0].begin() + 8),
              (std::vector<uint8_t>{0x21, 2, 2, 0x00, 0x20, 0, 0, 0}));
    EXPECT_EQ(std::vector<uint8_t>(scans[1].begin(), scans[1].begin() + 8),
              (std::vector<uint8_t>{0x21, 3, 2, 0x00, 0x20, 0, 0, 0}));
}

TEST_F(FingerprintScreens, RegistrationCancelledAndSilentUnitOffersCancel)
{
    OperatorBoxes boxes("reg-cancel");
    ScopedBiuMessageBoxes scope(boxes);
    CFingerprintScreen::SetSilenceLimitMs(1500);
    unit.answerHandshake = false;
    RunOnClientThread(67, "1000");
    HWND screen = WaitForScreen(clientThread, 380);
    ASSERT_TRUE(screen);
    Press(screen, 3002);  // L5
    auto texts = WaitForClosedBoxes(boxes, 1);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], "지문 입력 장치가 응답하지 않습니다. 취소 버튼으로 등록을 끝낼 수 있습니다. | 확인");
    corvane::SleepMs(300);
    Screenshot(screen, "reg-cancel-02-way-out");
    Press(screen, 2002);
    texts = WaitForClosedBoxes(boxes, 2);
    EXPECT_EQ(texts.back(), "지문 등록을 취소합니다. | 확인");
    EXPECT_EQ(WaitForAnswer(), "2");
    CFingerprintScreen::SetSilenceLimitMs(30000);
}

TEST_F(FingerprintScreens, VerificationOfOneRegistration)
{
    OperatorBoxes boxes("verify");
    ScopedBiuMessageBoxes scope(boxes);
    unit.verdicts.push_back({0, 3});
    RunOnClientThread(68, "3");
    HWND screen = WaitForScreen(clientThread, 235);
    ASSERT_TRUE(screen);
    corvane::SleepMs(300);
    Screenshot(screen, "verify-00-screen");
    // The background's size; the next button at 150, 190 at 60 x 25.
    EXPECT_EQ(ClientSize(screen), "235x284");
    EXPECT_EQ(PlaceOf(screen, 2001), "150,190,210,215");
    EXPECT_TRUE(IsWindowVisible(GetDlgItem(screen, 2001)));
    auto texts = WaitForClosedBoxes(boxes, 3);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "검증 할 지문을 입력하세요. | 확인");
    EXPECT_EQ(texts[1], std::string("등록ID [03]번 감면자 본인 확인 절차") + kAppCaption);
    EXPECT_EQ(texts[2], "등록ID : [3]로 등록된 지문입니다. | 확인");
    Press(screen, 2001);
    EXPECT_EQ(WaitForAnswer(), "2");
}

TEST_F(FingerprintScreens, TheScreenEndsAtOnceWhileItsReaderShowsABoxThatNobodyAnswers)
{
    OperatorBoxes boxes;
    boxes.leaveOpen = "등록ID [01]번 감면자 본인 확인 절차";
    ScopedBiuMessageBoxes scope(boxes);
    RunOnClientThread(68, "1");
    HWND screen = WaitForScreen(clientThread, 235);
    ASSERT_TRUE(screen);
    for (int i = 0; i < 500 && boxes.Texts().size() < 2; ++i) corvane::SleepMs(20);
    ASSERT_EQ(boxes.Texts().size(), 2u);
    corvane::SleepMs(300);  // the reader's box stands
    const uint64_t start = corvane::MonotonicMs();
    Press(screen, 2001);
    for (int i = 0; i < 150 && !answered; ++i) corvane::SleepMs(20);
    const uint64_t endedMs = corvane::MonotonicMs() - start;
    const bool ended = answered;
    if (!ended) boxes.PressLeftOpen();  // so that a failure ends the test instead of hanging it
    EXPECT_TRUE(ended);
    EXPECT_LT(endedMs, 2000u);
    EXPECT_EQ(WaitForAnswer(), "2");
    EXPECT_EQ(boxes.closed.load(), 2u);
}

TEST_F(FingerprintScreens, VerificationAgainstAllWithNoMatch)
{
    OperatorBoxes boxes("verify-all");
    ScopedBiuMessageBoxes scope(boxes);
    unit.verdicts.push_back({1, 0});
    RunOnClientThread(68, "0");
    HWND screen = WaitForScreen(clientThread, 235);
    ASSERT_TRUE(screen);
    auto texts = WaitForClosedBoxes(boxes, 2);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1], std::string("본인 인증에 실패하였습니다!") + kAppCaption);
    Press(screen, 2001);
    EXPECT_EQ(WaitForAnswer(), "2");
    std::vector<uint8_t> verify;
    for (const auto& m : unit.Observed().messages)
        if (m[0] == 0x24) verify = m;
    ASSERT_FALSE(verify.empty());
}

// ---- The commands over HTTP (port chosen free), as the page sends them ----

struct Winsock {
    Winsock() { WSADATA d; WSAStartup(MAKEWORD(2, 2), &d); }
    ~Winsock() { WSACleanup(); }
};

// One GET on a connection of its own; the JSONP answer's result text.
std::string HttpResult(int port, int id, const std::string& param)
{
    SOCKET s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    DWORD timeout = 60000;
    setsockopt(s, SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof timeout);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<u_short>(port));
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    std::string answer;
    if (connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
        const std::string request = "GET /Corvane.html?callback=cb&id=" + std::to_string(id) + "&param=" + param +
                                    " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        send(s, request.data(), static_cast<int>(request.size()), 0);
        char buffer[4096];
        for (;;) {
            const int n = recv(s, buffer, sizeof buffer, 0);
            if (n <= 0) break;
            answer.append(buffer, static_cast<size_t>(n));
            if (answer.find("\"})") != std::string::npos) break;
        }
    }
    closesocket(s);
    const size_t at = answer.find("\"result\":\"");
    if (at == std::string::npos) return "(no answer)";
    const size_t from = at + 10;
    return answer.substr(from, answer.find('"', from) - from);
}

class BiometricOverHttp : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_BIUIssueCtrl.UseScreens(&screens);
        ASSERT_EQ(server.Run(0, 200), 1);
    }
    void TearDown() override
    {
        server.Stop();
        CString r;
        ctrl.RunCommand(62, "", r);
        g_BIUIssueCtrl.UseScreens(nullptr);
    }
    std::string Get(int id, const std::string& param = "") { return HttpResult(server.BoundPort(), id, param); }
    // The simulated unit behind the seam, opened through id 61.
    void ConnectUnit()
    {
        unit.PlugInto(sim);
        ASSERT_EQ(Get(61, kKeyText), "2");
    }

    Winsock winsock;
    SimHidPlatform sim;
    ScopedHidPlatform active{sim};
    BiuSimulator unit{kProduct};
    CWindowsFingerprintScreens screens;
    COBUIssueCtrl ctrl;
    CHTTPServer server{[this](int id, const CString& param, CString& result) { return ctrl.RunCommand(id, param, result); }};
};

TEST_F(BiometricOverHttp, WithoutAUnit)
{
    EXPECT_EQ(Get(61, kKeyText), "0");
    EXPECT_EQ(Get(63), "0");
    for (int id : {64, 65, 66, 69, 70}) EXPECT_EQ(Get(id, "1"), "0") << id;
    EXPECT_EQ(Get(71, std::string(152, '1')), "0");
    EXPECT_EQ(Get(62), "1");
}

TEST_F(BiometricOverHttp, WithAUnit)
{
    ASSERT_NO_FATAL_FAILURE(ConnectUnit());
    EXPECT_EQ(Get(63), "2");
    EXPECT_EQ(Get(64), "");
    EXPECT_EQ(Get(66).size(), 21u);
    EXPECT_EQ(Get(69, "2"), "");
    EXPECT_EQ(Get(70, "3"), "");
    EXPECT_EQ(Get(71, std::string(150, '1') + "%2C1"), "");  // 152 characters only after the repair
    EXPECT_EQ(Get(65).size(), 208u);  // issued by the holder information

    ASSERT_EQ(unit.Observed().holderRequests.size(), 1u);
    EXPECT_EQ(unit.Observed().deletions.size(), 2u);
}

// The scan requests the unit has seen since message `from`.
std::vector<std::vector<uint8_t>> ScanRequests(const BiuSimulator& unit, size_t from = 0)
{
    std::vector<std::vector<uint8_t>> scans;
    const auto messages = unit.Observed().messages;
    for (size_t i = from; i < messages.size(); ++i)
        if (messages[i][0] == 0x21) scans.push_back(messages[i]);
    return scans;
}

// Whole registrations through id 67, one for each count of fingers registered
// already: the page's text names the user and the registered fingers, the
// operator picks a free finger, both scans go through and the done button ends
// the screen. The finger's slot in the requests follows the count.
TEST_F(BiometricOverHttp, WholeRegistrationsThroughId67)
{
    ASSERT_NO_FATAL_FAILURE(ConnectUnit());
    struct Case {
        const char* param;
        uint8_t user;
        int registeredButton;  // pressed first when not 0
        int button;
        uint8_t byte3, byte4;
    };
    const Case cases[] = {
        {"30000", 3, 0, 3011, 0x10, 0x00},        // none registered: finger 1, high half of byte 3
        {"4%3A000", 4, 3002, 3007, 0x05, 0x00},   // finger 10 registered: finger 5, low half of byte 3
        {"21300", 2, 3011, 3010, 0x00, 0x20},     // two: finger 2, high half of byte 4
        {"11230", 1, 0, 3008, 0x00, 0x04},        // three: finger 4, low half of byte 4
        {"1%3A987", 1, 3003, 3006, 0x00, 0x00},   // four: finger 6 has no slot
    };
    int n = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.param);
        char prefix[32];
        std::snprintf(prefix, sizeof prefix, "http-reg-%d", n++);
        OperatorBoxes boxes;
        ScopedBiuMessageBoxes scope(boxes);
        const size_t seen = unit.Observed().messages.size();
        std::string answer;
        std::thread page([&] { answer = Get(67, c.param); });
        HWND screen = WaitForScreen(0, 380);
        ASSERT_TRUE(screen);
        size_t expected = 0;
        if (c.registeredButton) {
            Press(screen, c.registeredButton);
            EXPECT_EQ(WaitForClosedBoxes(boxes, ++expected).back(), "이미 등록한 손가락입니다. | 확인");
        }
        Press(screen, c.button);
        expected += 2;
        auto texts = WaitForClosedBoxes(boxes, expected);
        ASSERT_EQ(texts.size(), expected);
        EXPECT_EQ(texts[expected - 2], "등록 지문을 입력하세요. | 확인");
        EXPECT_EQ(texts[expected - 1], "확인 지문을 입력하세요. | 확인");
        for (int i = 0; i < 500 && !DoneShown(screen); ++i) corvane::SleepMs(20);
        corvane::SleepMs(300);
        Screenshot(screen, std::string(prefix) + "-done");
        Press(screen, 2002);
        EXPECT_EQ(WaitForClosedBoxes(boxes, ++expected).back(), "지문 등록을 종료합니다. | 확인");
        page.join();
        EXPECT_EQ(answer, "2");

        const auto scans = ScanRequests(unit, seen);
        ASSERT_EQ(scans.size(), 2u);
        EXPECT_EQ(std::vector<uint8_t>(scans[0].begin(), scans[0].begin() + 8),
                  (std::vector<uint8_t>{0x21, 2, c.user, c.byte3, c.byte4, 0, 0, 0}));
        EXPECT_EQ(std::vector<uint8_t>(scans[1].begin(), scans[1].begin() + 8),
                  (std::vector<uint8_t>{0x21, 3, c.user, c.byte3, c.byte4, 0, 0, 0}));
    }
}

// Through id 67 as well: the cancel button at the choice of finger, then a
// registration whose scans fail in each of the three ways and a fourth time,
// which stops it. Both answer "2" once the screen has gone.
TEST_F(BiometricOverHttp, CancelAndFailedScansThroughId67)
{
    ASSERT_NO_FATAL_FAILURE(ConnectUnit());
    {
        OperatorBoxes boxes;
        ScopedBiuMessageBoxes scope(boxes);
        std::string answer;
        std::thread page([&] { answer = Get(67, "20000"); });
        HWND screen = WaitForScreen(0, 380);
        ASSERT_TRUE(screen);
        Press(screen, 2002);
        EXPECT_EQ(WaitForClosedBoxes(boxes, 1).back(), "지문 등록을 취소합니다. | 확인");
        page.join();
        EXPECT_EQ(answer, "2");
        EXPECT_TRUE(ScanRequests(unit).empty());
    }
    OperatorBoxes boxes;
    ScopedBiuMessageBoxes scope(boxes);
    for (uint8_t status : {1, 2, 4, 1}) unit.scans.push_back(BiuSimulator::FailedScan(status));
    std::string answer;
    std::thread page([&] { answer = Get(67, "20000"); });
    HWND screen = WaitForScreen(0, 380);
    ASSERT_TRUE(screen);
    Press(screen, 3006);  // L1, finger 6
    const auto texts = WaitForClosedBoxes(boxes, 8, 40000);
    page.join();
    EXPECT_EQ(answer, "2");
    EXPECT_EQ(texts, (std::vector<std::string>{
                         "등록 지문을 입력하세요. | 확인",
                         "지문 입력이 실패하였습니다.지문을 다시 입력하세요. | 확인",
                         "등록 지문을 입력하세요.(1)회 실패 | 확인",
                         "비인증키 암호화. | 확인",
                         "등록 지문을 입력하세요.(2)회 실패 | 확인",
                         "지문 입력 시간이 초과 하였습니다.지문을 다시 입력하세요. | 확인",
                         "등록 지문을 입력하세요.(3)회 실패 | 확인",
                         "지문 입력이 3회 실패 하였습니다. 다시 시도 하세요. | 확인",
                     }));
    const auto scans = ScanRequests(unit);
    ASSERT_EQ(scans.size(), 4u);
    for (const auto& scan : scans)
        EXPECT_EQ(std::vector<uint8_t>(scan.begin(), scan.begin() + 4), (std::vector<uint8_t>{0x21, 2, 2, 0x60}));
}

// Verifications through id 68: a registration id that does not match, then all
// registrations with a match of user 2. The page's text other than 1 to 4 asks
// for all.
TEST_F(BiometricOverHttp, VerificationsThroughId68)
{
    ASSERT_NO_FATAL_FAILURE(ConnectUnit());
    struct Case {
        const char* param;
        BiuSimulator::Verdict verdict;
        uint8_t command, user;
        std::vector<std::string> boxes;
    };
    const Case cases[] = {
        {"4", {1, 0}, 0x23, 4,
         {"검증 할 지문을 입력하세요. | 확인", std::string("등록ID [04]번 감면자 본인 확인 절차") + kAppCaption,
          std::string("본인 인증에 실패하였습니다!") + kAppCaption}},
        {"7", {0, 2}, 0x24, 0, {"검증 할 지문을 입력하세요. | 확인", "등록ID : [2]로 등록된 지문입니다. | 확인"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.param);
        OperatorBoxes boxes;
        ScopedBiuMessageBoxes scope(boxes);
        unit.verdicts.push_back(c.verdict);
        const size_t seen = unit.Observed().messages.size();
        std::string answer;
        std::thread page([&] { answer = Get(68, c.param); });
        HWND screen = WaitForScreen(0, 235);
        ASSERT_TRUE(screen);
        auto texts = WaitForClosedBoxes(boxes, c.boxes.size());
        EXPECT_EQ(texts, c.boxes);
        Press(screen, 2001);
        page.join();
        EXPECT_EQ(answer, "2");
        const auto messages = unit.Observed().messages;
        ASSERT_EQ(messages.size(), seen + 2);  // the random-key request, then the verification
        EXPECT_EQ(messages[seen][0], 0x10);
        EXPECT_EQ(std::vector<uint8_t>(messages.back().begin(), messages.back().begin() + 8),
                  (std::vector<uint8_t>{c.command, 0, c.user, 0, 0, 0, 0, 0}));
    }
}

}  // namespace
