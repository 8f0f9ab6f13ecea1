// Replies of a card reader on a serial line (STX frames received a byte at a
// time) or over USB (one read), through the library's exports and the
// reader-command rule. Built twice: fuzz_reader_serial and fuzz_reader_usb
// (READER_OVER_USB).
//
// Input: exchanges, each
//   export(1) data(counted) tail1 tail2  reply: kind(1) length(2) bytes
// where kind picks how the line behaves after the request went out: 0 the
// reply bytes (serial: in pieces of any size), 1 a failing read, 2 silence.
// The rule's promises are checked: a result of 0 brings at most
// TARNLINK_MAX_REPLY bytes, exactly what the reader sent after its status byte;
// any other result leaves the output buffer and length untouched.
#include <algorithm>
#include <cstring>
#include <deque>
#include <memory>
#include <vector>

#include "readerlink/error_codes.h"
#include "readerlink/tarnlink.h"
#include "readerlink/tarnlink_app.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

#ifdef READER_OVER_USB
constexpr int kPort = 100;
#else
constexpr int kPort = 5;
#endif

tarnlink::CTarnlinkApp* g_app = nullptr;

// What the reader does with the next request.
struct Reply {
    int kind = 2;
    std::vector<uint8_t> bytes;
};

class FuzzPlatform : public tarnlink::IReaderPlatform {
public:
    Reply next;
    std::vector<uint8_t> lastWrite;

    std::unique_ptr<tarnlink::ISerialLine> OpenSerial(int port, const tarnlink::SerialSettings&) override
    {
        if (port != kPort) return nullptr;
        return std::make_unique<Line>(*this);
    }
    tarnlink::IUsbReaderBus& UsbBus() override { return m_bus; }
    uint32_t TickMs() override { return m_now; }
    void SleepMs(uint32_t milliseconds) override { m_now += milliseconds; }
    void TraceText(const char* text) override { Require(text != nullptr); }
    void ListenerTraceText(const char* text) override { Require(text != nullptr); }

private:
    class Line : public tarnlink::ISerialLine {
    public:
        explicit Line(FuzzPlatform& platform) : m_platform(platform) {}
        int Read(uint8_t* buffer, int n) override
        {
            if (m_platform.next.kind == 1) return -1;
            int count = n < static_cast<int>(m_inbound.size()) ? n : static_cast<int>(m_inbound.size());
            for (int i = 0; i < count; ++i) {
                buffer[i] = m_inbound.front();
                m_inbound.pop_front();
            }
            return count;
        }
        int Write(const uint8_t* bytes, int n) override
        {
            m_platform.lastWrite.assign(bytes, bytes + n);
            if (m_platform.next.kind == 0) m_inbound.assign(m_platform.next.bytes.begin(), m_platform.next.bytes.end());
            return n;
        }
        void SetRts(bool) override {}
        bool EnableReceiveEvents() override { return true; }
        bool WaitForInput(uint32_t) override { return true; }

    private:
        FuzzPlatform& m_platform;
        std::deque<uint8_t> m_inbound;
    };

    class Link : public tarnlink::IUsbLink {
    public:
        explicit Link(FuzzPlatform& platform) : m_platform(platform) {}
        int Write(const uint8_t* bytes, int n) override
        {
            m_platform.lastWrite.assign(bytes, bytes + n);
            return n;
        }
        int Read(uint8_t* buffer, int capacity, uint32_t) override
        {
            const Reply& reply = m_platform.next;
            if (reply.kind == 1) return kFailed;
            if (reply.kind == 2) return kTimedOut;
            const int count = capacity < static_cast<int>(reply.bytes.size()) ? capacity
                                                                             : static_cast<int>(reply.bytes.size());
            std::copy(reply.bytes.begin(), reply.bytes.begin() + count, buffer);
            return count;
        }

    private:
        FuzzPlatform& m_platform;
    };

    class Bus : public tarnlink::IUsbReaderBus {
    public:
        explicit Bus(FuzzPlatform& platform) : m_platform(platform) {}
        void BeginScan() override {}
        std::unique_ptr<tarnlink::IUsbLink> OpenAt(int index) override
        {
            return index == 0 ? std::make_unique<Link>(m_platform) : nullptr;
        }
        void EndScan() override {}

    private:
        FuzzPlatform& m_platform;
    };

    Bus m_bus{*this};
    uint32_t m_now = 0xFFFFF000;  // the tick wraps during the run
};

// The reply's payload as the reader sent it: what follows its status byte.
std::vector<uint8_t> SentPayload(const Reply& reply)
{
#ifdef READER_OVER_USB
    const size_t skip = 3;  // length prefix, status
    const size_t end = reply.bytes.size() < 300 ? reply.bytes.size() : 300;
#else
    const size_t skip = 4;  // STX, LENH, LENL, status
    const size_t end = reply.bytes.size() >= 3 ? 3 + (reply.bytes[1] << 8 | reply.bytes[2]) : 0;
#endif
    if (end <= skip || end > reply.bytes.size()) return {};
    return std::vector<uint8_t>(reply.bytes.begin() + skip, reply.bytes.begin() + end);
}

int CallExport(uint8_t which, const std::vector<uint8_t>& data, uint8_t tail1, uint8_t tail2, int* outLen,
               unsigned char* out)
{
    const int n = static_cast<int>(data.size());
    const unsigned char* bytes = data.data();
    switch (which % 12) {
    case 0: return TARN_IC_PowerOn(kPort, outLen, out);
    case 1: return TARN_IC_Case1(kPort, n, bytes, outLen, out);
    case 2: return TARN_IC_Case2(kPort, n, bytes, outLen, out);
    case 3: return TARN_IC_Case3(kPort, n, bytes, outLen, out);
    case 4: return TARN_ABM_Transparent(kPort, tail1, n, bytes, outLen, out);
    case 5: return TARN_AM_Transparent(kPort, n, bytes, outLen, out);
    case 6: return TARN_AM_TransparentCRC(kPort, n, bytes, outLen, out);
    case 7: return TARN_BM_Transparent(kPort, n, bytes, outLen, out);
    case 8: return TARN_BM_TransparentCRC(kPort, n, bytes, outLen, out);
    case 9: return TARN_BM_Transparent_Test(kPort, n, bytes, outLen, out, tail1, tail2);
    case 10: return TARN_BM_Transparent_Set(kPort, tail1 | tail2 << 8, outLen, out);
    default: return TARN_ClosePort(kPort) == 1 ? TARN_InitPort(kPort, 9600) == kPort ? -2 : -3 : -4;
    }
}

}  // namespace

tarnlink::CTarnlinkApp& tarnlink::TheApp()
{
    return *g_app;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    FuzzPlatform platform;
    tarnlink::CTarnlinkApp app(platform);
    g_app = &app;
    Require(TARN_InitPort(kPort, 9600) == kPort);

    // Exactly as large as the library promises to need, so that any byte
    // written beyond it is seen.
    std::unique_ptr<unsigned char[]> out(new unsigned char[TARNLINK_MAX_REPLY]);
    while (!input.Empty()) {
        const uint8_t which = input.Byte();
        const std::vector<uint8_t> request = input.Counted();
        const uint8_t tail1 = input.Byte();
        const uint8_t tail2 = input.Byte();
        platform.next.kind = input.Byte() % 3;
        platform.next.bytes = input.Bytes(input.Word() % 4096);

        std::memset(out.get(), 0xEE, TARNLINK_MAX_REPLY);
        int outLen = -7;
        const int result = CallExport(which, request, tail1, tail2, &outLen, out.get());
        if (result < 0) continue;  // the port was closed and opened again
        Require(result == 0 || (result >= 1 && result <= 255) || tarnlink::IsError(result));
        if (result != 0) {
            Require(outLen == -7);
            for (int i = 0; i < TARNLINK_MAX_REPLY; ++i) Require(out[i] == 0xEE);
            continue;
        }
        Require(outLen >= 0 && outLen <= TARNLINK_MAX_REPLY);
        Require(platform.next.kind == 0);
        const std::vector<uint8_t> payload = SentPayload(platform.next);
        Require(static_cast<size_t>(outLen) == payload.size());
        Require(std::equal(payload.begin(), payload.end(), out.get()));
        for (int i = outLen; i < TARNLINK_MAX_REPLY; ++i) Require(out[i] == 0xEE);
    }
    g_app = nullptr;
    return 0;
}
