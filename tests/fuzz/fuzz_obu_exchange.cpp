// Input reports of a device that claims to be an OBU, through the record's
// report read, the receive loop, the report gathering and the answer decoding
// of the secure exchange. The device's answers are either raw reports or
// plaintexts of the fuzzer's choosing, encrypted under the session keys as
// the device would, so that the decrypted paths are reached; what the
// exchange decrypts and keeps must be exactly what the device sealed.
//
// Input: a setup byte (profile choices), the input report length (2 bytes),
// the product string (counted), then events, one per report read:
//   0 len bytes...        a raw report of len bytes
//   1 plain[16]           the random-key answer sealed from this plaintext
//   2 blocks chunk plain  a command answer of 16 * (1 + blocks % 66) bytes
//                         sealed from the plaintext (an even byte 0 made the
//                         command's, 0x05), chunk data bytes a report
//   3                     a read that times out
// The input running out is a device that fails.
#include <algorithm>
#include <atomic>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "obulink/hid_device.h"
#include "obulink/secure_exchange.h"
#include "tests/fuzz/fuzz_hid_device.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/sim/obu_simulator.h"
#include "tests/sim/reference_aes.h"

namespace {

const uint8_t kProduct[16] = {0x10, 0x21, 0x32, 0x43, 0x54, 0x65, 0x76, 0x87,
                              0x98, 0xA9, 0xBA, 0xCB, 0xDC, 0xED, 0xFE, 0x0F};
const uint8_t kHandshakeRandom[8] = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77, 0x88};
const uint8_t kCommandRandom[8] = {0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7, 0xA8};

class NoWait : public ExchangeClock {
public:
    uint64_t NowMs() override { return 0; }
    void SleepMs(uint32_t) override {}
};

class NoMessages : public MessagePump {
public:
    void DispatchPending(uint32_t) override {}
};

class CommandRandom : public AppRandomSource {
public:
    void Draw(uint8_t out[8]) override { std::memcpy(out, kCommandRandom, 8); }
};

// Every trace line is formatted and looked at.
class CheckingTraceSink : public TraceSink {
public:
    void Line(const std::string& text) override { Require(text.rfind("[APP] ", 0) == 0 || text.rfind("        ", 0) == 0); }
};

class FuzzTransaction : public CSecureExchange {
public:
    FuzzTransaction(const CHidDeviceRecord& device, const ExchangeProfile& profile)
        : CSecureExchange(device, kProduct, profile) {}

    // The random-key request, then the receive thread's loop, run on this
    // thread.
    void ReceiveAll()
    {
        std::memcpy(m_AppRandom, kHandshakeRandom, 8);
        m_Channel.AllowSendingWithoutReaderForTests();
        HandshakeSendKey(m_SendKey, m_ProductNum);
        RequestRandomKey(m_SendKey);
        const std::atomic<bool> run{true};
        ReceiveLoop(
            m_Device, run, m_Profile.stopReadingWhenDone ? &m_bDone : nullptr, *m_Services.clock,
            [this](const uint8_t* report, size_t bytesRead) { OnReceive(report, bytesRead); },
            [this] { BreakOff(); });
    }

    const uint8_t* AppRandom() const { return m_AppRandom; }
    const uint8_t* DeviceRandom() const { return m_DeviceRandom; }
    bool RandomKnown() const { return m_bRandomKnown != 0; }

    // The plaintexts the device sealed into the report now being delivered.
    std::vector<uint8_t> expectedPlain;
    std::vector<uint8_t> expectedRandomKeyPlain;

protected:
    size_t ComposeCommand(uint8_t* message) override
    {
        message[0] = 0x05;
        return 16;
    }
    const char* StartBanner() const override { return "start"; }
    const char* FinishBanner() const override { return "finish"; }
    void SendReport(const uint8_t* report) override { Require(report[0] == m_Profile.layout.reportId); }

    void TraceRandomKeyAnswer(const uint8_t* received, const uint8_t* plain) override
    {
        CSecureExchange::TraceRandomKeyAnswer(received, plain);
        if (!expectedRandomKeyPlain.empty()) {
            Require(std::memcmp(plain, expectedRandomKeyPlain.data(), 16) == 0);
            Require(std::memcmp(m_DeviceRandom, plain + 8, 8) == 0);
        }
    }

    void KeepAnswer(const uint8_t* plain, size_t n) override
    {
        CSecureExchange::KeepAnswer(plain, n);
        Require(n % 16 == 0 && n <= kPlainBufSize);
        if (!expectedPlain.empty()) {
            Require(n == expectedPlain.size() && std::memcmp(plain, expectedPlain.data(), n) == 0);
            Require(Status() == (expectedPlain[1] | expectedPlain[2] << 8));
        }
        const size_t data = n - 16 < kAnswerDataSize ? n - 16 : kAnswerDataSize;
        Require(std::memcmp(AnswerData(), plain + 16, data) == 0);
        for (size_t i = data; i < kAnswerDataSize; ++i) Require(AnswerData()[i] == 0);
    }
};

// One device whose reports come from the input, built when they are read.
class FuzzHidPlatform : public FuzzHidDevice {
public:
    FuzzHidPlatform(FuzzInput& input, std::string product, HidReportCaps caps)
        : FuzzHidDevice(true, std::move(product), caps), m_input(input) {}

    FuzzTransaction* tx = nullptr;

    HidIoResult Write(HidHandle, const uint8_t*, size_t, uint32_t) override { return HidIoResult::Done; }
    HidIoResult Read(HidHandle, uint8_t* buffer, size_t length, uint32_t, size_t& bytesRead) override
    {
        tx->expectedPlain.clear();
        tx->expectedRandomKeyPlain.clear();
        if (m_pending.empty() && !NextEvent()) return HidIoResult::Gone;  // the input has ended
        if (m_pending.empty()) return HidIoResult::TimedOut;
        const std::vector<uint8_t> report = std::move(m_pending.front());
        m_pending.pop_front();
        bytesRead = report.size() < length ? report.size() : length;
        std::copy(report.begin(), report.begin() + static_cast<std::ptrdiff_t>(bytesRead), buffer);
        if (m_pending.empty()) {
            tx->expectedPlain = m_sealedPlain;
            m_sealedPlain.clear();
        }
        // The random-key answer is the first Data Type 1 report, read whole.
        if (!m_randomKeyPlain.empty() && !tx->RandomKnown() && bytesRead >= HidReportLayout::kDataOffset + 16)
            tx->expectedRandomKeyPlain = m_randomKeyPlain;
        m_randomKeyPlain.clear();
        return HidIoResult::Done;
    }
    HidReportLayout layout = kObuReportLayout;
    bool singleReport = false;

private:
    // Queues the reports of the next event; false when the input is used up.
    bool NextEvent()
    {
        if (m_input.Empty()) return false;
        switch (m_input.Byte() % 4) {
        case 0: m_pending.push_back(m_input.Counted()); break;
        case 1: {
            const std::vector<uint8_t> plain = m_input.Bytes(16);
            const auto key = ObuSimulator::DeviceKey(kProduct, kHandshakeRandom, nullptr);
            Seal(ReferenceAes(key.data(), 32).EncryptCbc(plain), 16);
            m_randomKeyPlain = plain;
            break;
        }
        case 2: {
            const size_t blocks = 1 + m_input.Byte() % 66;
            const size_t chunk = m_input.Byte();
            std::vector<uint8_t> plain = m_input.Bytes(16 * blocks);
            // Mostly the answer to the command sent (0x05), sometimes one to
            // another, which is dropped.
            if (plain[0] % 2 == 0) plain[0] = 0x05;
            const auto key = ObuSimulator::DeviceKey(kProduct, tx->AppRandom(), tx->DeviceRandom());
            Seal(ReferenceAes(key.data(), 32).EncryptCbc(plain), chunk);
            // A single report holds what fits in it; the rest of a longer
            // answer is lost, and so there is nothing to compare.
            // Only an answer that comes after the random-key answer is gathered
            // as one.
            if (tx->RandomKnown() && plain[0] == 0x05 && (!singleReport || plain.size() <= layout.DataCapacity()))
                m_sealedPlain = plain;
            break;
        }
        default: break;
        }
        return true;
    }

    // Frames `message` as the device does: Data Type 1 then 2, Packet Index
    // from 0, DataLength the whole message, `chunk` data bytes a report (1 to
    // the report's capacity).
    void Seal(const std::vector<uint8_t>& message, size_t chunk)
    {
        const size_t capacity = layout.DataCapacity();
        chunk = chunk == 0 || chunk > capacity ? capacity : chunk;
        if (singleReport) chunk = message.size() < capacity ? message.size() : capacity;
        for (size_t at = 0, index = 0; at < message.size() && (!singleReport || index == 0); at += chunk, ++index) {
            std::vector<uint8_t> report(layout.reportLength, 0);
            HidPacketHeader header;
            header.dataType = index == 0 ? HidPacketHeader::kFirstReport : HidPacketHeader::kFollowingReport;
            header.packetIndex = static_cast<uint16_t>(index);
            header.dataLength = static_cast<uint32_t>(message.size());
            header.length = static_cast<uint8_t>(message.size() - at < chunk ? message.size() - at : chunk);
            report[0] = layout.reportId;
            header.WriteTo(report.data());
            std::memcpy(report.data() + HidReportLayout::kDataOffset, message.data() + at, header.length);
            m_pending.push_back(std::move(report));
        }
    }

    FuzzInput& m_input;
    std::deque<std::vector<uint8_t>> m_pending;
    std::vector<uint8_t> m_sealedPlain;
    std::vector<uint8_t> m_randomKeyPlain;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const uint8_t setup = input.Byte();
    HidReportCaps caps;
    caps.inputReportLength = input.Word();
    caps.outputReportLength = 65;
    const std::vector<uint8_t> product = input.Counted();

    // The OBU's profile, or the other framing the exchange knows.
    ExchangeProfile profile = kObuExchangeProfile;
    if (setup & 1) {
        profile.layout = kBiuReportLayout;
        profile.answerFraming = AnswerFraming::SingleReport;
    }
    profile.refuseBadRandomKeyAnswer = (setup & 2) == 0;
    profile.stopReadingWhenDone = (setup & 4) == 0;

    FuzzHidPlatform platform(input, std::string(product.begin(), product.end()), caps);
    platform.layout = profile.layout;
    platform.singleReport = profile.answerFraming == AnswerFraming::SingleReport;
    ScopedHidPlatform active(platform);
    CheckingTraceSink sink;
    ScopedTraceSink traces(sink);

    CHIDDevice device;
    if (device.OpenDevice(0) != kHidDone) {
        // Only a device whose product string starts with the OBU's is taken.
        Require(product.size() < 10 || std::memcmp(product.data(), "Wendra-OBU", 10) != 0);
        return 0;
    }
    Require(device.m_wInputReportLength == caps.inputReportLength);
    NoWait clock;
    NoMessages pump;
    CommandRandom random;
    {
        FuzzTransaction tx(device, profile);
        tx.SetServices({&clock, &pump});
        tx.SetRandomSource(random);
        platform.tx = &tx;
        tx.ReceiveAll();
        platform.tx = nullptr;
        const ExchangeOutcome outcome = ClassifyOutcome(tx.IsDone(), tx.IsAnswerUsable(), tx.Status());
        const CString text = OutcomeText(outcome, "done");
        Require(text == "0" || text == "1" || text == "2" || text == "done");
    }
    device.CloseHandleAndReset();
    return 0;
}
