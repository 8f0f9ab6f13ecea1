// The Windows layer of the OBU link: overlapped report I/O on a real handle
// (a named pipe stands in for the HID interface), the real SetupAPI walk, and
// the window messages that the exchange's wait dispatches.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "framework/clock.h"
#include "obulink/exchange_wait.h"
#include "obulink/hid_device.h"
#include "obulink/hid_platform_win.h"
#include "tests/obulink/test_transaction.h"
#include "tests/sim/obu_simulator.h"
#include "tests/sim/sim_hid_platform.h"

namespace {

class PipePair : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string name = "\\\\.\\pipe\\corvane-obulink-" + std::to_string(GetCurrentProcessId());
        server = CreateNamedPipeA(name.c_str(), PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED,
                                  PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1, 4096, 4096, 0, nullptr);
        ASSERT_NE(server, INVALID_HANDLE_VALUE);
        client = CreateFileA(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
        ASSERT_NE(client, INVALID_HANDLE_VALUE);
    }
    void TearDown() override
    {
        if (client != INVALID_HANDLE_VALUE) CloseHandle(client);
        if (server != INVALID_HANDLE_VALUE) CloseHandle(server);
    }
    HANDLE server = INVALID_HANDLE_VALUE;
    HANDLE client = INVALID_HANDLE_VALUE;
};

TEST_F(PipePair, ReadTimesOutAndIsCancelled)
{
    uint8_t buffer[64];
    std::memset(buffer, 0xAA, sizeof buffer);
    DWORD read = 77;
    const uint64_t start = corvane::MonotonicMs();
    EXPECT_EQ(OverlappedRead(client, buffer, sizeof buffer, 100, read), HidIoResult::TimedOut);
    EXPECT_GE(corvane::MonotonicMs() - start, 90u);
    EXPECT_EQ(read, 77u);
    // A report written now must not land in the buffer of the cancelled read.
    uint8_t report[64] = {0x01, 0x02};
    ASSERT_EQ(OverlappedWrite(server, report, sizeof report, 1000), HidIoResult::Done);
    Sleep(50);
    EXPECT_EQ(buffer[0], 0xAA);
    EXPECT_EQ(OverlappedRead(client, buffer, sizeof buffer, 1000, read), HidIoResult::Done);
    EXPECT_EQ(read, 64u);
    EXPECT_EQ(buffer[1], 0x02);
}

TEST_F(PipePair, ReportsGoBothWays)
{
    uint8_t report[64];
    for (int i = 0; i < 64; ++i) report[i] = static_cast<uint8_t>(i);
    ASSERT_EQ(OverlappedWrite(client, report, sizeof report, 1000), HidIoResult::Done);
    uint8_t got[64] = {};
    DWORD read = 0;
    ASSERT_EQ(OverlappedRead(server, got, sizeof got, 1000, read), HidIoResult::Done);
    EXPECT_EQ(read, 64u);
    EXPECT_EQ(0, std::memcmp(got, report, 64));
}

TEST_F(PipePair, BrokenLinkFails)
{
    CloseHandle(server);
    server = INVALID_HANDLE_VALUE;
    uint8_t buffer[64];
    DWORD read = 0;
    EXPECT_EQ(OverlappedRead(client, buffer, sizeof buffer, 200, read), HidIoResult::Failed);
    EXPECT_EQ(OverlappedWrite(client, buffer, sizeof buffer, 200), HidIoResult::Failed);
    // A handle that is not valid (any more) fails for good: the device is gone.
    const HANDLE invalid = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x7FFFFFF0));
    EXPECT_EQ(OverlappedRead(invalid, buffer, sizeof buffer, 200, read), HidIoResult::Gone);
}

TEST(Win32Hid, RealEnumerationMeetsOnlyForeignDevices)
{
    // Wine presents a few HID interfaces that are no OBU; the walk must take
    // them in its stride and leave nothing open.
    char path[256];
    unsigned paths = 0;
    while (paths < 64 && CHidDeviceRecord::GetDevicePath(paths, path)) ++paths;
    EXPECT_LE(CHIDDevice::CountDevices(), paths);
    CHIDDevice device;
    EXPECT_EQ(device.OpenDevice(64), kHidNotFound);
    EXPECT_EQ(device.m_bOpened, 0);
    EXPECT_EQ(CHidDeviceRecord::GetDevicePath(64, path), 0);
    const HidOsVersion version = SystemHidPlatform().OsVersion();
    EXPECT_GE(version.major, 5u);
}

int g_dispatched = 0;
constexpr UINT kCounted = WM_APP + 7;
constexpr UINT kPostsQuit = WM_APP + 8;  // its handler asks the thread to quit, with exit code 7
LRESULT CALLBACK CountingWindow(HWND window, UINT message, WPARAM w, LPARAM l)
{
    if (message == kCounted) {
        ++g_dispatched;
        return 0;
    }
    if (message == kPostsQuit) {
        PostQuitMessage(7);
        return 0;
    }
    return DefWindowProcA(window, message, w, l);
}

// A message-only window that counts the kCounted dispatched to it.
HWND CountingMessageWindow()
{
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = CountingWindow;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "CorvaneObuWaitTest";
    RegisterClassA(&windowClass);
    return CreateWindowA("CorvaneObuWaitTest", "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, windowClass.hInstance,
                         nullptr);
}

TEST(Win32Wait, WindowMessagesAreDispatchedWhileTheExchangeWaits)
{
    g_dispatched = 0;
    HWND window = CountingMessageWindow();
    ASSERT_NE(window, nullptr);

    const uint8_t product[16] = {1, 2, 3};
    SimHidPlatform sim;
    ScopedHidPlatform active(sim);
    ObuSimulator obu(product);
    obu.handshakeDelayMs = 100;
    sim.AddDevice("Wendra-OBU").peer = &obu;
    CHIDDevice device;
    ASSERT_EQ(device.OpenDevice(0), kHidDone);

    TestTransaction tx(device, product, 0x05, 16);  // the system's clock and pump
    PostMessageA(window, kCounted, 0, 0);
    EXPECT_EQ(tx.Run(), ExchangeOutcome::Succeeded);
    EXPECT_EQ(g_dispatched, 1);
    device.CloseHandleAndReset();
    DestroyWindow(window);
}

// The tray's exit while a command waits on this thread: the wait goes on until
// its exchange is done, dispatching nothing more (a message posted meanwhile
// waits too), and the quit stays for the loop that runs the thread, with its
// exit code. The quit is there before the wait, or comes from a message that
// the wait dispatches (the tray menu's command).
struct QuitCase {
    const char* name;
    bool fromDispatchedMessage;
};

class Win32WaitQuit : public ::testing::TestWithParam<QuitCase> {};

TEST_P(Win32WaitQuit, EndsTheDispatchingAndIsLeftForTheThreadsOwnLoop)
{
    g_dispatched = 0;
    HWND window = CountingMessageWindow();
    ASSERT_NE(window, nullptr);

    if (GetParam().fromDispatchedMessage) {
        PostMessageA(window, kPostsQuit, 0, 0);
    } else {
        PostQuitMessage(7);
    }
    std::atomic<bool> done{false};
    std::thread exchange([&] {
        Sleep(50);
        PostMessageA(window, kCounted, 0, 0);
        Sleep(150);
        done = true;
    });
    const uint64_t start = corvane::MonotonicMs();
    const bool answered = WaitForFlag(done, 5000, ExchangeServices());
    const uint64_t waited = corvane::MonotonicMs() - start;
    exchange.join();
    EXPECT_TRUE(answered);
    EXPECT_LT(waited, 4000u) << "ended by its flag, not its limit";
    EXPECT_EQ(g_dispatched, 0) << "nothing is dispatched once the thread is asked to quit";

    MSG message;
    ASSERT_TRUE(PeekMessageA(&message, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE)) << "the quit is gone";
    BOOL got;
    while ((got = GetMessageA(&message, nullptr, 0, 0)) > 0) DispatchMessageA(&message);
    EXPECT_EQ(got, 0);
    EXPECT_EQ(message.wParam, 7u);
    EXPECT_EQ(g_dispatched, 1) << "the message posted during the wait, by the thread's own loop";
    DestroyWindow(window);
}

INSTANTIATE_TEST_SUITE_P(Win32Wait, Win32WaitQuit,
                         ::testing::Values(QuitCase{"PostedBeforeTheWait", false},
                                           QuitCase{"PostedByAMessageItDispatches", true}),
                         [](const ::testing::TestParamInfo<QuitCase>& info) { return std::string(info.param.name); });

}  // namespace
