// The developer test panel on real windows under Wine: the template with every
// control, the buttons pressed by message with the virtual issuing card behind
// the card access (their message boxes read through the framework's hook), a
// unit button while a page client's screen holds the simulated unit, the
// panel opened modally from the application's About command, a picture of it
// (about_dlg.bmp, kept in the test's folder), and the connection check against
// port 8080 with and without a server there.
#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent/about_dlg_win.h"
#include "agent/commands/obu_issue_ctrl.h"
#include "agent/connection_check_win.h"
#include "agent/corvane_app_win.h"
#include "biometric/biu_controller.h"
#include "framework/device_lock.h"
#include "framework/message_box_win.h"
#include "resources/about_dlg_ids.h"
#include "tests/agent/obu_command_fixture.h"
#include "tests/sim/biu_simulator.h"
#include "tests/sim/sim_card_links.h"
#include "tests/sim/test_pcsc_link.h"
#include "tests/sim/virtual_issuing_card.h"

COBUIssueCtrl g_OBUIssueCtrl;

namespace {

constexpr const char* kCaption = "미리내상사 Client Agent v1.5";

// The virtual card in a USB reader behind g_OBUIssueCtrl. Never destroyed: the
// controller's destruction at exit still closes the link through them.
struct CardBench {
    sim::VirtualIssuingCard* card = new sim::VirtualIssuingCard;
    sim::SimReaderLibrary* library = new sim::SimReaderLibrary(*card, 1, sim::CardPresence::kContact);
    std::unique_ptr<sim::TestPcscLink> pcsc = sim::MakeTestPcscLink(*card, false);
    CardBench() { g_OBUIssueCtrl.CardAccess().UseLinks(library, pcsc.get()); }
};
CardBench& Bench()
{
    static CardBench* bench = new CardBench;
    return *bench;
}

// Every message box of the process, answered OK.
struct RecordedBoxes {
    std::mutex lock;
    std::vector<corvane::MessageBoxRequest> boxes;
    RecordedBoxes()
    {
        corvane::SetMessageBoxHook([this](const corvane::MessageBoxRequest& request) {
            std::lock_guard<std::mutex> guard(lock);
            boxes.push_back(request);
            return IDOK;
        });
    }
    ~RecordedBoxes() { corvane::SetMessageBoxHook(nullptr); }
    std::vector<std::string> Texts()
    {
        std::lock_guard<std::mutex> guard(lock);
        std::vector<std::string> texts;
        for (const auto& box : boxes) texts.push_back(box.text);
        return texts;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> guard(lock);
        boxes.clear();
    }
};

void Press(const CAboutDlg& panel, int id)
{
    panel.SendMessage(WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(panel.GetDlgItem(id)));
}

// What the issuing page's request with this id and param answers, run on the
// same controller.
std::string WebAnswer(int id, const char* param = "")
{
    CString result;
    EXPECT_TRUE(g_OBUIssueCtrl.RunCommand(id, param, result)) << id;
    return result.str();
}

std::string ClassOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

void Pump(DWORD ms)
{
    const DWORD until = GetTickCount() + ms;
    MSG message;
    while (static_cast<LONG>(until - GetTickCount()) > 0) {
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(10);
    }
}

// The window as it is on the screen, as a 24-bit BMP file.
bool SaveWindowPicture(HWND window, const char* path)
{
    RECT rect;
    GetWindowRect(window, &rect);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP bitmap = CreateCompatibleBitmap(screen, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY);
    SelectObject(memory, old);

    BITMAPINFOHEADER info{};
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    std::vector<unsigned char> pixels(stride * height);
    GetDIBits(memory, bitmap, 0, height, pixels.data(), reinterpret_cast<BITMAPINFO*>(&info), DIB_RGB_COLORS);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);

    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + static_cast<DWORD>(pixels.size());
    FILE* out = std::fopen(path, "wb");
    if (!out) return false;
    std::fwrite(&file, sizeof file, 1, out);
    std::fwrite(&info, sizeof info, 1, out);
    std::fwrite(pixels.data(), 1, pixels.size(), out);
    std::fclose(out);
    // A picture of nothing but one colour means the window was not drawn.
    for (size_t i = 3; i < pixels.size(); ++i)
        if (pixels[i] != pixels[i % 3]) return true;
    return false;
}

// ------------------------------------------------------------------ template

struct ControlText {
    int id;
    const char* text;
};

const ControlText kButtons[] = {
    {1000, "스마트카드 OPEN"}, {1002, "FindCard"}, {1003, "발급카드번호조회"}, {1004, "OBU 갯수체크"},
    {1005, "재발급 1"}, {1006, "반납"}, {1001, "발급카드 초기화"}, {1009, "발급정보읽기"},
    {1010, "재발급 정보 읽기"}, {1011, "반납정보읽기"}, {1012, "갱신정보 읽기"},
    {1013, "OBU 단말정보 조회"}, {1016, "스마트카드 CLOSE"}, {1017, "OBU번호추가"}, {1018, "발급"},
    {1019, "재발급 2"}, {1020, "정보갱신"}, {1021, "영수증 프린트"}, {1029, "가져오기"},
    {1025, "제조키 세팅"}, {1027, "초기화"}, {1026, "단말기 정보조회"}, {1024, "단말기 발급"},
    {1028, "단말기 정보갱신"}, {1023, "단말기 재발급"}, {1061, "감면 연결"}, {1062, "감면 접속종료"},
    {1065, "감면 접속상태"}, {1064, "감면 초기화"}, {1063, "감면 정보조회"}, {1066, "감면 사용자정보"},
    {1070, "감면 지문등록"}, {1067, "감면 지문확인"}, {1068, "감면 지문삭제"}, {1069, "감면 사용자삭제"},
    {1072, "제조번호 세팅"}, {1022, "서버 접속"}, {1007, "CheckObuData"}, {1008, "OnSettingCard"},
    {1014, "DoActiveOBU"}, {1015, "DoReadOBU"}, {IDOK, "확인"},
};

const ControlText kCheckBoxes[] = {
    {1056, "발급번호"}, {1057, "차종"}, {1058, "차량번호"}, {1059, "발급일자"}, {1060, "만기일자"},
};

TEST(TestPanel, TemplateHoldsEveryControlInsideTheDialog)
{
    CAboutDlg panel;
    ASSERT_TRUE(panel.Create());
    EXPECT_EQ(panel.GetWindowText().str(), kCaption);

    RECT size{0, 0, 575, 228};
    MapDialogRect(panel, &size);
    RECT client;
    panel.GetClientRect(&client);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);

    auto inside = [&](HWND control) {
        RECT r;
        GetWindowRect(control, &r);
        MapWindowPoints(nullptr, panel, reinterpret_cast<POINT*>(&r), 2);
        return r.left >= 0 && r.top >= 0 && r.right <= client.right && r.bottom <= client.bottom &&
               r.right > r.left && r.bottom > r.top;
    };
    for (const ControlText& button : kButtons) {
        HWND control = panel.GetDlgItem(button.id);
        ASSERT_NE(control, nullptr) << button.id;
        EXPECT_EQ(ClassOf(control), "Button") << button.id;
        EXPECT_EQ(WindowTextOf(control).str(), button.text) << button.id;
        const LONG kind = GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
        EXPECT_TRUE(kind == BS_PUSHBUTTON || kind == BS_DEFPUSHBUTTON) << button.id;
        EXPECT_TRUE(inside(control)) << button.id;
    }
    for (const ControlText& box : kCheckBoxes) {
        HWND control = panel.GetDlgItem(box.id);
        ASSERT_NE(control, nullptr) << box.id;
        EXPECT_EQ(WindowTextOf(control).str(), box.text) << box.id;
        EXPECT_EQ(GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK, BS_AUTOCHECKBOX) << box.id;
        EXPECT_TRUE(inside(control)) << box.id;
    }
    std::vector<int> edits;
    for (int id = 1030; id <= 1055; ++id) edits.push_back(id);
    edits.push_back(1071);
    for (int id : edits) {
        HWND control = panel.GetDlgItem(id);
        ASSERT_NE(control, nullptr) << id;
        EXPECT_EQ(ClassOf(control), "Edit") << id;
        EXPECT_TRUE(inside(control)) << id;
    }
    // Controls must not lie on one another.
    std::vector<RECT> placed;
    for (HWND child = GetWindow(panel, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if ((GetWindowLongA(child, GWL_STYLE) & BS_TYPEMASK) == BS_GROUPBOX && ClassOf(child) == "Button")
            continue;
        RECT r;
        GetWindowRect(child, &r);
        for (const RECT& other : placed) {
            RECT overlap;
            EXPECT_FALSE(IntersectRect(&overlap, &r, &other)) << "control " << GetDlgCtrlID(child);
        }
        placed.push_back(r);
    }
    panel.DestroyWindow();
}

// ------------------------------------------------------------------- buttons

class PanelButtons : public testing::Test {
protected:
    void SetUp() override
    {
        Bench();
        g_OBUIssueCtrl.SmartCardClose();
        ASSERT_TRUE(panel.Create());
    }
    void TearDown() override
    {
        panel.DestroyWindow();
        g_OBUIssueCtrl.SmartCardClose();
    }
    RecordedBoxes recorded;
    CAboutDlg panel;
};

TEST_F(PanelButtons, CardButtonsShowWhatTheWebCommandAnswers)
{
    Bench().card->SetCardNumber(sim::BytesOf("12 34 56 78 9A BC DE F0"));
    const struct {
        int button;
        int id;
    } kReads[] = {
        {1002, 12}, {1003, 13}, {1004, 14}, {1009, 20}, {1010, 21}, {1011, 22}, {1012, 23}, {1013, 24},
    };
    for (const auto& read : kReads) {
        recorded.Clear();
        Press(panel, read.button);
        const std::string web = WebAnswer(read.id);
        ASSERT_EQ(recorded.Texts(), std::vector<std::string>{web}) << read.button;
        EXPECT_EQ(recorded.boxes[0].type, static_cast<UINT>(MB_OK));
        EXPECT_EQ(web.substr(0, 2), "1:") << "the reader opened for id " << read.id;
    }
    recorded.Clear();
    Press(panel, 1003);
    EXPECT_EQ(recorded.Texts(), std::vector<std::string>{"1:123456789abcdef0"});
}

TEST_F(PanelButtons, OpenAndCloseShowNothingAndLeaveTheReaderAsTheySay)
{
    Press(panel, 1000);
    EXPECT_TRUE(recorded.Texts().empty());
    EXPECT_EQ(g_OBUIssueCtrl.CardAccess().ReaderKind(), card::kReaderLibrary) << "the reader stays open";
    Press(panel, 1016);
    EXPECT_TRUE(recorded.Texts().empty());
    EXPECT_EQ(g_OBUIssueCtrl.CardAccess().ReaderKind(), card::kReaderNone);
}

TEST_F(PanelButtons, WritesWithTheFixedOneGoAsTheTextPacks)
{
    // "1" has no comma: no OBU number, and records whose every field is zero.
    // The panel shows what the card commands answer for it.
    for (int button : {1017, 1018, 1019, 1020}) Press(panel, button);
    EXPECT_EQ(recorded.Texts(), (std::vector<std::string>{"1:0", "1:1", "1:1", "1:1"}));
    EXPECT_TRUE(Bench().card->OBUNumbers().empty());
    EXPECT_EQ(Bench().card->IssueRecord(), sim::Bytes(45, 0x00));
    EXPECT_EQ(Bench().card->RenewCount(), 1);
    sim::Bytes block(63, 0x00);
    block[0] = 0x04;
    block[17] = 0xF8;
    EXPECT_EQ(Bench().card->Block(), block);
}

TEST_F(PanelButtons, ReceiptAndInitialisation)
{
    Press(panel, 1021);  // no printer in the test: the receipt answers that it did not print
    Press(panel, 1001);
    EXPECT_EQ(recorded.Texts(), (std::vector<std::string>{"1:FALSE", "1:1"}));
}

TEST_F(PanelButtons, ManufactureNumberShowsNineAndSpareButtonsNothing)
{
    Press(panel, 1072);
    EXPECT_EQ(recorded.Texts(), std::vector<std::string>{"9"});
    recorded.Clear();
    for (int button : {1007, 1008, 1014, 1015}) Press(panel, button);
    panel.SendMessage(WM_COMMAND, MAKEWPARAM(1048, EN_CHANGE), reinterpret_cast<LPARAM>(panel.GetDlgItem(1048)));
    EXPECT_TRUE(recorded.Texts().empty());
    EXPECT_TRUE(IsWindow(panel)) << "nothing ends the panel but its OK button";
}

TEST_F(PanelButtons, BiometricButtonsWithNoUnitShowWhatTheWebCommandsAnswer)
{
    const struct {
        int button;
        int id;
        const char* param;
    } kButtonsAndIds[] = {
        {1061, 61, "1"}, {1065, 63, ""}, {1063, 65, ""}, {1066, 66, ""}, {1068, 69, "1"}, {1069, 70, "1"},
        {1062, 62, ""},
    };
    for (const auto& row : kButtonsAndIds) {
        recorded.Clear();
        Press(panel, row.button);
        ASSERT_EQ(recorded.Texts(), std::vector<std::string>{WebAnswer(row.id, row.param)}) << row.button;
    }
}

// A registration screen of a page client that stays open until let go (5 s at
// the most: a button that waits for it then fails its test instead of hanging).
class HeldRegistration : public FingerprintScreens {
public:
    void RunRegistration(const FingerprintRegistration&) override
    {
        open = true;
        for (int i = 0; i < 500 && !released; ++i) Sleep(10);
        open = false;
    }
    void RunVerification(const FingerprintVerification&) override {}
    std::atomic<bool> open{false};
    std::atomic<bool> released{false};
};

TEST_F(PanelButtons, AUnitButtonBesideAPageClientsScreenIsAnsweredAtOnce)
{
    const uint8_t key[16] = {};
    SimHidPlatform sim{25};
    ScopedHidPlatform active{sim};
    ScaledClock clock{25};
    obu_commands_test::IdlePump pump;
    BiuSimulator unit{key};
    unit.PlugInto(sim);
    HeldRegistration held;
    g_BIUIssueCtrl.SetServices({&clock, &pump});
    g_BIUIssueCtrl.UseScreens(&held);
    ASSERT_EQ(WebAnswer(61, "00000000000000000000000000000000"), "2");

    // The page's registration screen holds the unit on its connection's
    // thread; the panel (this thread owns the windows) shows the refusal at
    // once and leaves the unit to the screen.
    DeviceLock::MarkWindowThread();
    std::string registration;
    std::thread client([&] { registration = WebAnswer(67, "1000"); });
    for (int i = 0; i < 500 && !held.open; ++i) Sleep(10);
    const DWORD start = GetTickCount();
    Press(panel, 1063);  // 감면 정보조회
    Press(panel, 1062);  // 감면 접속종료
    const DWORD took = GetTickCount() - start;
    held.released = true;
    client.join();
    EXPECT_EQ(recorded.Texts(), (std::vector<std::string>{"1", "1"}));
    EXPECT_LT(took, 2000u);
    EXPECT_EQ(registration, "2");
    EXPECT_EQ(WebAnswer(62), "2") << "the unit stayed open for the screen";
    g_BIUIssueCtrl.UseScreens(nullptr);
    g_BIUIssueCtrl.SetServices(ExchangeServices{});
}

// The OBU buttons with the simulated OBU attached behind the HID seam.
class PanelObuButtons : public obu_commands_test::ObuCommands {
protected:
    void SetUp() override
    {
        ObuCommands::SetUp();
        Attach();
        ASSERT_TRUE(panel.Create());
    }
    void TearDown() override
    {
        panel.DestroyWindow();
        ObuCommands::TearDown();
    }
    RecordedBoxes recorded;
    CAboutDlg panel;
};

TEST_F(PanelObuButtons, ShowWhatTheWebCommandsAnswer)
{
    // The key "40736185" is refused by the OBU's key command; set a good one as
    // the page would, then the reads.
    ASSERT_EQ(WebAnswer(32, obu_commands_test::kProductText), "2:");
    const struct {
        int button;
        int id;
        const char* param;
    } kButtonsAndIds[] = {
        {1029, 31, ""}, {1026, 34, ""}, {1025, 32, "40736185"}, {1024, 35, "17"}, {1028, 36, "17"},
        {1023, 37, "17"}, {1027, 33, ""},
    };
    for (const auto& row : kButtonsAndIds) {
        recorded.Clear();
        Press(panel, row.button);
        ASSERT_EQ(recorded.Texts(), std::vector<std::string>{WebAnswer(row.id, row.param)}) << row.button;
        EXPECT_EQ(recorded.Texts()[0].substr(0, 2), "2:") << "the OBU opened for button " << row.button;
    }
}

TEST_F(PanelObuButtons, ShortKeyAndTerminalTextsShowTheRefusal)
{
    for (int button : {1025, 1024, 1028, 1023}) Press(panel, button);
    EXPECT_EQ(recorded.Texts(), (std::vector<std::string>{"2:1", "2:1", "2:1", "2:1"}));
}

// ------------------------------------------------- the panel from the tray menu

struct ModalRun {
    RecordedBoxes* recorded = nullptr;
    std::string picture;
    bool pictured = false;
    std::vector<std::string> boxesSeen;
    bool found = false;
};
ModalRun* g_modal = nullptr;

void CALLBACK DriveModalPanel(HWND, UINT, UINT_PTR timer, DWORD)
{
    HWND panel = FindWindowA(nullptr, kCaption);
    if (!panel || !IsWindowVisible(panel)) return;
    KillTimer(nullptr, timer);
    g_modal->found = true;
    Pump(300);  // let it draw
    g_modal->pictured = SaveWindowPicture(panel, g_modal->picture.c_str());
    // A real click on the button: BM_CLICK makes the button notify the panel.
    SendMessageA(GetDlgItem(panel, 1072), BM_CLICK, 0, 0);
    g_modal->boxesSeen = g_modal->recorded->Texts();
    SendMessageA(GetDlgItem(panel, IDOK), BM_CLICK, 0, 0);
}

TEST(TestPanel, OpensModallyFromTheAboutCommandAndEndsWithOK)
{
    RecordedBoxes recorded;
    CCorvaneApp app;  // the application whose About command ("Agent 화면") opens the panel
    ModalRun run;
    run.recorded = &recorded;
    char folder[MAX_PATH] = {};
    GetCurrentDirectoryA(MAX_PATH, folder);
    run.picture = std::string(folder) + "\\about_dlg.bmp";
    g_modal = &run;
    const UINT_PTR timer = SetTimer(nullptr, 0, 100, DriveModalPanel);
    ASSERT_TRUE(app.OnCmdMsg(ID_APP_ABOUT, 0));  // returns when the panel has ended
    KillTimer(nullptr, timer);
    g_modal = nullptr;

    EXPECT_TRUE(run.found);
    EXPECT_EQ(run.boxesSeen, std::vector<std::string>{"9"});
    EXPECT_TRUE(run.pictured) << run.picture;
    EXPECT_EQ(FindWindowA(nullptr, kCaption), nullptr) << "the panel has closed";
}

// ------------------------------------------------------- the connection check

// A local web application on 127.0.0.1:8080 that answers every request with a
// short page and counts the requests for the test page.
class TestWebServer {
public:
    bool Start()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        m_listener = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(8080);
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(m_listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
            listen(m_listener, 8) != 0)
            return false;
        m_thread = std::thread([this] { Serve(); });
        return true;
    }
    ~TestWebServer()
    {
        m_stopping = true;
        if (m_thread.joinable()) m_thread.join();
        closesocket(m_listener);
        WSACleanup();
    }
    int Requests() const { return m_requests; }
    std::string FirstLine()
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return m_firstLine;
    }

private:
    // True when `socket` has something to read; false after 50 ms.
    static bool Readable(SOCKET socket)
    {
        fd_set set;
        FD_ZERO(&set);
        FD_SET(socket, &set);
        timeval wait{0, 50000};
        return select(0, &set, nullptr, nullptr, &wait) == 1;
    }

    void Serve()
    {
        while (!m_stopping) {
            if (!Readable(m_listener)) continue;
            SOCKET client = accept(m_listener, nullptr, nullptr);
            if (client == INVALID_SOCKET) return;
            // Keep-alive: several requests may come on one connection.
            std::string pending;
            char buffer[1024];
            while (!m_stopping) {
                if (!Readable(client)) continue;
                const int got = recv(client, buffer, sizeof buffer, 0);
                if (got <= 0) break;
                pending.append(buffer, got);
                size_t end;
                while ((end = pending.find("\r\n\r\n")) != std::string::npos) {
                    {
                        std::lock_guard<std::mutex> guard(m_lock);
                        m_firstLine = pending.substr(0, pending.find("\r\n"));
                    }
                    pending.erase(0, end + 4);
                    ++m_requests;
                    const std::string body = "<html>\r\n<body>test page\r\n</body>\r\n</html>\r\n";
                    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\nContent-Length: " +
                                               std::to_string(body.size()) + "\r\n\r\n" + body;
                    send(client, answer.data(), static_cast<int>(answer.size()), 0);
                }
            }
            closesocket(client);
        }
    }

    SOCKET m_listener = INVALID_SOCKET;
    std::atomic<bool> m_stopping{false};
    std::thread m_thread;
    std::atomic<int> m_requests{0};
    std::mutex m_lock;
    std::string m_firstLine;
};

bool SomethingListensOn8080()
{
    TestWebServer probe;
    return !probe.Start();
}

// Presses "서버 접속" on a panel whose check runs every 300 ms, lets it run
// about five rounds and stops it.
void RunConnectionCheck()
{
    corvane::panel::ServerTestSettings settings;
    settings.periodMs = 300;
    settings.stop = std::make_shared<std::atomic<bool>>(false);
    CAboutDlg panel(settings);
    ASSERT_TRUE(panel.Create());
    Press(panel, 1022);
    Pump(1500);
    settings.stop->store(true);
    Pump(700);  // the round in progress ends
    panel.DestroyWindow();
}

TEST(ConnectionCheck, WithNothingOn8080ItSaysSoEveryRound)
{
    if (SomethingListensOn8080()) GTEST_SKIP() << "another program listens on port 8080";
    RecordedBoxes recorded;
    RunConnectionCheck();

    const std::vector<std::string> texts = recorded.Texts();
    ASSERT_GE(texts.size(), 2u) << "a box every round";
    for (const std::string& text : texts) EXPECT_EQ(text, "서버에 접속할 수 없습니다.");
    std::lock_guard<std::mutex> guard(recorded.lock);
    for (const auto& box : recorded.boxes) {
        EXPECT_NE(box.threadId, GetCurrentThreadId()) << "the box comes from the check's own thread";
        EXPECT_EQ(box.type, static_cast<UINT>(MB_OK));
    }
}

TEST(ConnectionCheck, WithTheLocalWebApplicationUpItStaysQuiet)
{
    TestWebServer server;
    if (!server.Start()) GTEST_SKIP() << "another program listens on port 8080";
    RecordedBoxes recorded;
    RunConnectionCheck();

    EXPECT_TRUE(recorded.Texts().empty());
    EXPECT_GE(server.Requests(), 3) << "a request every round";
    EXPECT_EQ(server.FirstLine(), "GET /IssueSystem/ServerTest.html HTTP/1.1");
}

}  // namespace
