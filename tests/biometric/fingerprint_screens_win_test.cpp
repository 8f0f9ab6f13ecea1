// The fingerprint screens as the operator sees them, under a display: ids 67
// and 68 run through the command table on a client thread, as a web request
// does, with the fingerprint-unit simulator behind the HID seam. The test
// presses the screens' buttons by message, reads every message box the
// screens show (real boxes) and dismisses it, and keeps a screenshot of each
// step in screens/ under the test's build folder.
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
#include "biometric/biu_controller.h"
#include "biometric/biu_message_box.h"
#include "biometric/fingerprint_screens_win.h"
#include "framework/clock.h"
#include "tests/sim/biu_simulator.h"
#include "tests/sim/sim_hid_platform.h"

namespace {

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
    explicit OperatorBoxes(std::string prefix) : m_prefix(std::move(prefix)) {}

    int Show(BiuOwnerWindow owner, const char* text, const char* caption, unsigned type) override
    {
        std::string shot;
        {
            std::lock_guard<std::mutex> hold(m_lock);
            texts.push_back(std::string(text) + " | " + caption);
            char name[64];
            std::snprintf(name, sizeof name, "%s-%02d-box", m_prefix.c_str(), static_cast<int>(texts.size()));
            shot = name;
        }
        const DWORD thread = GetCurrentThreadId();
        HWND ownerWindow = static_cast<HWND>(owner);
        std::thread dismiss([thread, ownerWindow, shot] {
            for (int i = 0; i < 300; ++i) {
                HWND box = FindBox(thread);
                if (box) {
                    corvane::SleepMs(250);  // drawn
                    Screenshot(ownerWindow ? ownerWindow : box, shot);
                    PostMessageA(box, WM_COMMAND, IDOK, 0);
                    return;
                }
                corvane::SleepMs(20);
            }
        });
        const int answer = MessageBoxA(ownerWindow, text, caption, type);
        dismiss.join();
        return answer;
    }
    std::vector<std::string> Texts()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return texts;
    }

private:
    static HWND FindBox(DWORD thread)
    {
        struct Search {
            DWORD thread;
            HWND found;
        } search{thread, nullptr};
        EnumThreadWindows(
            thread,
            [](HWND w, LPARAM p) CALLBACK -> BOOL {
                char cls[16] = {};
                GetClassNameA(w, cls, sizeof cls);
                if (std::string(cls) == "#32770" && IsWindowVisible(w) && GetDlgItem(w, IDOK)) {
                    reinterpret_cast<Search*>(p)->found = w;
                    return FALSE;
                }
                return TRUE;
            },
            reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    std::string m_prefix;
    std::mutex m_lock;
    std::vector<std::string> texts;
};

// The screen window (a dialog) of `thread` with the given client width.
HWND WaitForScreen(DWORD thread, int width)
{
    for (int i = 0; i < 250; ++i) {
        struct Search {
            int width;
            HWND found;
        } search{width, nullptr};
        EnumThreadWindows(
            thread,
            [](HWND w, LPARAM p) CALLBACK -> BOOL {
                auto* s = reinterpret_cast<Search*>(p);
                RECT r;
                GetClientRect(w, &r);
                char cls[16] = {};
                GetClassNameA(w, cls, sizeof cls);
                if (IsWindowVisible(w) && std::string(cls) == "#32770" && !GetDlgItem(w, IDOK)) {
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
    std::printf("no screen on the client thread\n");
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

void Press(HWND screen, int id, HWND button = nullptr)
{
    PostMessageA(screen, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button));
}

// Waits until the box texts have reached `count`.
std::vector<std::string> WaitForBoxes(OperatorBoxes& boxes, size_t count, int limitMs = 15000)
{
    for (int waited = 0; waited < limitMs && boxes.Texts().size() < count; waited += 20) corvane::SleepMs(20);
    return boxes.Texts();
}

class FingerprintScreens : public ::testing::Test {
protected:
    void SetUp() override
    {
        SimHidDevice& device = sim.AddDevice("[wendra] fingerprint unit");
        device.caps = {65, 65, 0};
        device.peer = &unit;
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
    // Escape and Enter do nothing.
    PostMessageA(screen, WM_COMMAND, IDCANCEL, 0);
    PostMessageA(screen, WM_COMMAND, IDOK, 0);
    corvane::SleepMs(200);
    ASSERT_TRUE(IsWindow(screen));

    Press(screen, 3011);  // R1: registered already
    EXPECT_EQ(WaitForBoxes(boxes, 1).back(), "이미 등록한 손가락입니다. | 확인");
    Press(screen, 3010);  // R2
    auto texts = WaitForBoxes(boxes, 3);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[1], "등록 지문을 입력하세요. | 확인");
    EXPECT_EQ(texts[2], "확인 지문을 입력하세요. | 확인");
    // Step 3 shows the done button (id 2002, as the cancel button).
    for (int i = 0; i < 500 && !DoneShown(screen); ++i) corvane::SleepMs(20);
    corvane::SleepMs(300);
    Screenshot(screen, "reg-04-done-page");
    Press(screen, 2002);  // done
    texts = WaitForBoxes(boxes, 4);
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
    auto texts = WaitForBoxes(boxes, 1);
    ASSERT_EQ(texts.size(), 1u);
    EXPECT_EQ(texts[0], "지문 입력 장치가 응답하지 않습니다. 취소 버튼으로 등록을 끝낼 수 있습니다. | 확인");
    corvane::SleepMs(300);
    Screenshot(screen, "reg-cancel-02-way-out");
    Press(screen, 2002);
    texts = WaitForBoxes(boxes, 2);
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
    auto texts = WaitForBoxes(boxes, 3);
    ASSERT_EQ(texts.size(), 3u);
    EXPECT_EQ(texts[0], "검증 할 지문을 입력하세요. | 확인");
    EXPECT_EQ(texts[1].substr(0, texts[1].find(" | ")), "등록ID [03]번 감면자 본인 확인 절차");
    EXPECT_EQ(texts[2], "등록ID : [3]로 등록된 지문입니다. | 확인");
    Press(screen, 2001);
    EXPECT_EQ(WaitForAnswer(), "2");
}

TEST_F(FingerprintScreens, VerificationAgainstAllWithNoMatch)
{
    OperatorBoxes boxes("verify-all");
    ScopedBiuMessageBoxes scope(boxes);
    unit.verdicts.push_back({1, 0});
    RunOnClientThread(68, "0");
    HWND screen = WaitForScreen(clientThread, 235);
    ASSERT_TRUE(screen);
    auto texts = WaitForBoxes(boxes, 2);
    ASSERT_EQ(texts.size(), 2u);
    EXPECT_EQ(texts[1].substr(0, texts[1].find(" | ")), "본인 인증에 실패하였습니다!");
    Press(screen, 2001);
    EXPECT_EQ(WaitForAnswer(), "2");
    std::vector<uint8_t> verify;
    for (const auto& m : unit.Observed().messages)
        if (m[0] == 0x24) verify = m;
    ASSERT_FALSE(verify.empty());
}

}  // namespace
