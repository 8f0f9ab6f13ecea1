// The Win32 layer of the library: the exports over the USB bus seam with
// simulated readers, the USB link's file I/O against a named pipe, and trace
// lines to the "GET_MESSAGE" window.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "readerlink/comm_obj.h"
#include "readerlink/dev_lib.h"
#include "readerlink/error_codes.h"
#include "readerlink/reader_platform_win.h"
#include "readerlink/tarnlink.h"
#include "readerlink/usb_link_win.h"
#include "tests/sim/card_reader_sim.h"
#include "tests/sim/sim_usb_bus.h"

using sim::Bytes;
using tarnlink::IUsbLink;

namespace {

// Simulated readers in place of SetupAPI for one test.
class SimulatedUsbReaders {
public:
    SimulatedUsbReaders() { tarnlink::ThePlatform().UseUsbBus(&bus); }
    ~SimulatedUsbReaders() { tarnlink::ThePlatform().UseUsbBus(nullptr); }
    sim::SimUsbBus bus;
};

}  // namespace

TEST(UsbReaders, PortsNumberTheReadersInOrderOfOpening)
{
    SimulatedUsbReaders usb;
    sim::CardReaderSim first;
    first.card.apdus[{0x00, 0xB0, 0x00, 0x00, 0x02}] = {0x12, 0x34, 0x90, 0x00};
    usb.bus.Attach(&first);

    EXPECT_EQ(TARN_InitPort(100, 9600), 100);
    EXPECT_EQ(TARN_InitPort(101, 9600), 1);
    int outLen = 0;
    unsigned char out[300] = {};
    EXPECT_EQ(TARN_IC_PowerOn(100, &outLen, out), 0);
    const unsigned char read[] = {0x00, 0xB0, 0x00, 0x00, 0x02};
    EXPECT_EQ(TARN_IC_Case2(100, 5, read, &outLen, out), 0);
    EXPECT_EQ(Bytes(out, out + outLen), (Bytes{0x12, 0x34, 0x90, 0x00}));
    EXPECT_EQ(usb.bus.writes.back(), (Bytes{0x00, 0x06, 0xC2, 0x00, 0xB0, 0x00, 0x00, 0x02}));

    // Closing after a USB open closes the reader once; a second close finds it closed.
    EXPECT_EQ(TARN_ClosePort(100), 1);
    EXPECT_EQ(TARN_ClosePort(100), -1);
    EXPECT_FALSE(usb.bus.IsHeld(0));

    // A second reader: with 100 open again, it is the only one that opens.
    sim::CardReaderSim second;
    usb.bus.Attach(&second);
    EXPECT_EQ(TARN_InitPort(101, 9600), 101);
    EXPECT_EQ(TARN_InitPort(100, 9600), 100);
    EXPECT_EQ(TARN_IC_PowerOn(101, &outLen, out), 0);
    EXPECT_EQ(second.requests.size(), 1u);
    EXPECT_EQ(TARN_ClosePort(100), 1);
    EXPECT_EQ(TARN_ClosePort(101), 1);
}

TEST(UsbReaders, SetupApiListsNoReaderUnderWine)
{
    EXPECT_EQ(TARN_InitPort(100, 9600), 1);
    int outLen = 0;
    unsigned char out[16];
    EXPECT_EQ(TARN_IC_PowerOn(100, &outLen, out), tarnlink::kErrUsbWrite);
}

// A reader interface at the far end of a named pipe: one packet in, one out.
class PipeReader {
public:
    PipeReader()
    {
        std::snprintf(m_name, sizeof m_name, "\\\\.\\pipe\\corvane-reader-%lu", GetCurrentProcessId());
        m_pipe = CreateNamedPipeA(m_name, PIPE_ACCESS_DUPLEX, PIPE_TYPE_MESSAGE | PIPE_READMODE_MESSAGE | PIPE_WAIT, 1,
                                  4096, 4096, 0, nullptr);
        m_thread = std::thread([this] { Serve(); });
    }
    ~PipeReader()
    {
        Hangup();
        m_thread.join();
    }
    const char* name() const { return m_name; }
    void Hangup()
    {
        if (!m_closed.exchange(true)) {
            DisconnectNamedPipe(m_pipe);
            CloseHandle(m_pipe);
        }
    }
    sim::CardReaderSim reader;

private:
    void Serve()
    {
        if (!ConnectNamedPipe(m_pipe, nullptr) && GetLastError() != ERROR_PIPE_CONNECTED) return;
        uint8_t buffer[4096];
        DWORD got = 0;
        while (!m_closed && ReadFile(m_pipe, buffer, sizeof buffer, &got, nullptr)) {
            auto reply = reader.FromUsb(buffer, got);
            DWORD written = 0;
            if (reply) WriteFile(m_pipe, reply->data(), static_cast<DWORD>(reply->size()), &written, nullptr);
        }
    }
    char m_name[64];
    HANDLE m_pipe;
    std::atomic<bool> m_closed{false};
    std::thread m_thread;
};

TEST(UsbLink, ExchangesOnePacketEachWayAndTimesOutOnSilence)
{
    PipeReader pipeEnd;
    std::unique_ptr<IUsbLink> link = tarnlink::Win32UsbLink::Open(pipeEnd.name());
    ASSERT_TRUE(link);
    // The interface opens for one user only.
    EXPECT_FALSE(tarnlink::Win32UsbLink::Open(pipeEnd.name()));

    const uint8_t request[] = {0x00, 0x02, 0xC0, 0x00};
    ASSERT_EQ(link->Write(request, 4), 4);
    uint8_t reply[300];
    const int got = link->Read(reply, 300, 2000);
    ASSERT_EQ(got, 2 + 1 + 4);
    EXPECT_EQ(Bytes(reply, reply + got), (Bytes{0x00, 0x05, 0x00, 0x3B, 0x02, 0x14, 0x50}));

    pipeEnd.reader.InjectFault(sim::ReaderFault::Silence);
    ASSERT_EQ(link->Write(request, 4), 4);
    const ULONGLONG start = GetTickCount64();
    EXPECT_EQ(link->Read(reply, 300, 300), IUsbLink::kTimedOut);
    const ULONGLONG took = GetTickCount64() - start;
    EXPECT_GE(took, 250u);
    EXPECT_LT(took, 3000u);

    // The far end goes away: reads and writes fail.
    pipeEnd.Hangup();
    EXPECT_EQ(link->Read(reply, 300, 300), IUsbLink::kFailed);
    EXPECT_EQ(link->Write(request, 4), IUsbLink::kFailed);
}

// ---- trace window

namespace {

struct TraceCapture {
    ULONG_PTR kind = 0;
    DWORD size = 0;
    std::string text;
    int count = 0;
};
TraceCapture g_trace;

LRESULT CALLBACK TraceWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam)
{
    if (message == WM_COPYDATA) {
        auto* data = reinterpret_cast<COPYDATASTRUCT*>(lparam);
        g_trace.kind = data->dwData;
        g_trace.size = data->cbData;
        g_trace.text.assign(static_cast<const char*>(data->lpData));
        ++g_trace.count;
        return TRUE;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace

TEST(TraceWindow, DebugTextReachesTheGetMessageWindow)
{
    tarnlink::CCommOBJ record;
    record.m_nPort = 5;
    tarnlink::CDevLib* device = tarnlink::CreateDevice(11, record, tarnlink::ThePlatform());
    ASSERT_NE(device, nullptr);

    device->DebugText("no window yet");  // nothing happens
    EXPECT_EQ(g_trace.count, 0);

    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = TraceWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "CorvaneTraceTest";
    ASSERT_TRUE(RegisterClassA(&windowClass));
    HWND window = CreateWindowA("CorvaneTraceTest", "GET_MESSAGE", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                nullptr, windowClass.hInstance, nullptr);
    ASSERT_TRUE(window);

    device->DebugText("Call");
    EXPECT_EQ(g_trace.count, 1);
    EXPECT_EQ(g_trace.kind, 1004u);
    EXPECT_EQ(g_trace.size, g_trace.text.size() + 1);
    ASSERT_GE(g_trace.text.size(), 17u);
    EXPECT_EQ(g_trace.text.substr(0, 4), "(5) ");
    EXPECT_EQ(g_trace.text.substr(12), " : Call");
    DestroyWindow(window);
}
