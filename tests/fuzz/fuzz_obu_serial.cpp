// The OBU's serial-number read (the clear answer, no handshake) through the
// OBU controller, with an OBU that answers from the input, and the S-code
// computed from serial texts of the fuzzer's choosing (or from the serial
// number just read). The serial number read must be exactly the one the OBU
// sent, and the S-code the first 8 bytes of AES-128 of it under the key text
// (checked with the simulators' own cipher).
//
// Input: the product string (counted), the input report length (2 bytes),
// then operations, one a byte:
//   0        OpenOBU
//   1        CloseOBU
//   2        GetMFSN; the OBU answers the request with one event:
//              0                           silence
//              1 status chunk len bytes... the clear answer (len bytes, head
//                                          and serial number; taken only with
//                                          command byte 0x00) in reports of
//                                          chunk data bytes (1 to 55; 0: 55),
//                                          the status in each Reserved byte
//              2 count (len bytes...)*     count % 8 raw reports
//              3                           the next read fails
//   3 text   CreateScode(text)
//   4 text   CreateScode(the last serial number read + text)
// Texts run to a NUL byte or the end of the input.
#include <cstring>
#include <string>

#include "obulink/obu_controller.h"
#include "obulink/scode.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/fuzz_lockstep_hid.h"
#include "tests/sim/reference_aes.h"
#include "tests/sim/sim_framing.h"

namespace {

constexpr size_t kReportLength = 64;
constexpr size_t kReportData = 55;

// The OBU's side of the read: every 16-byte request of command 0 is answered
// from the input.
class SerialPeer : public FuzzHidPeer {
public:
    SerialPeer(FuzzInput& input, LockstepHidPlatform& platform) : m_input(input), m_platform(platform) {}

    int requests = 0;
    // The answer the read takes whole (one report, head included): its bytes and status.
    bool known = false;
    bool whole = false;  // whole in one report, of whichever command
    std::vector<uint8_t> answer;
    uint8_t status = 0;

    void Begin()
    {
        requests = 0;
        known = false;
        whole = false;
        answer.clear();
    }

    void OnWrite(const FuzzReport& report) override
    {
        std::vector<uint8_t> message;
        if (report.size() != kReportLength || !m_gatherer.Add(report, message)) return;
        // The request: 16 bytes, all zero.
        Require(message == std::vector<uint8_t>(16, 0));
        ++requests;
        switch (m_input.Byte() % 4) {
        case 0: break;
        case 1: {
            status = m_input.Byte();
            size_t chunk = m_input.Byte() % (kReportData + 1);
            if (chunk == 0) chunk = kReportData;
            answer = m_input.Counted();
            std::vector<size_t> chunks;
            for (size_t left = answer.size(); left > 0; left -= std::min(left, chunk))
                chunks.push_back(std::min(left, chunk));
            auto reports = SimFrameMessage({0x01, kReportLength}, answer, chunks);
            for (auto& r : reports) {
                r[8] = status;
                m_platform.Queue(r);
            }
            // Only Data Type 1 reports are taken, so an answer is whole in one
            // report; it is the read's only with command byte 0x00.
            whole = reports.size() == 1 && answer.size() >= 16 && m_platform.InputReportLength() >= 9 + chunk;
            known = whole && answer[0] == 0x00;
            break;
        }
        case 2:
            for (size_t n = m_input.Byte() % 8; n > 0; --n) m_platform.Queue(m_input.Counted());
            break;
        default: m_platform.FailNextRead(); break;
        }
    }

private:
    FuzzInput& m_input;
    LockstepHidPlatform& m_platform;
    SimMessageGatherer m_gatherer{{0x01, kReportLength}};
};

int UpperHexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

void CheckScode(const std::string& text, const CString& scode)
{
    const size_t mfsnLength = CdoCreateScode::kMfsnLength;
    const size_t keyAt = CdoCreateScode::kKeyTextOffset;
    uint8_t block[16] = {};
    bool valid = text.size() >= keyAt + CdoCreateScode::kKeyTextLength;
    for (size_t i = 0; valid && i < mfsnLength; i += 2) {
        const int high = UpperHexValue(text[i]);
        const int low = UpperHexValue(text[i + 1]);
        valid = high >= 0 && low >= 0;
        block[i / 2] = static_cast<uint8_t>(high * 16 + low);
    }
    if (!valid) {
        Require(scode == CdoCreateScode::kMfsnError);
        return;
    }
    uint8_t key[16];
    std::memcpy(key, text.data() + keyAt, sizeof key);
    uint8_t cipher[16];
    ReferenceAes(key, 16).EncryptBlock(block, cipher);
    Require(scode == UpperHex(cipher, 8));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const std::vector<uint8_t> product = input.Counted();
    const uint16_t inputReportLength = input.Word();
    LockstepHidPlatform platform(std::string(product.begin(), product.end()), inputReportLength, 64);
    SerialPeer obu(input, platform);
    platform.peer = &obu;
    ScopedHidPlatform active(platform);
    const bool ours = product.size() >= 10 && std::memcmp(product.data(), "Wendra-OBU", 10) == 0;

    CObuSelfIssueCtrl controller;
    controller.SetServices(platform.Services());
    bool open = false;
    std::string lastSerial = "0000000000000000";

    while (!input.Empty()) {
        platform.Drop();
        obu.Begin();
        switch (input.Byte() % 5) {
        case 0:
            Require(controller.OpenOBU(controller.HoldDevice()) == (ours ? "2" : "0"));
            open = ours;
            break;
        case 1:
            Require(controller.CloseOBU(controller.HoldDevice()) == (open ? "2" : "1"));
            open = false;
            break;
        case 2: {
            const CString text = controller.GetMFSN(controller.HoldDevice());
            if (!open) {
                Require(text == "0" && obu.requests == 0);
                break;
            }
            Require(obu.requests == 1);
            const std::string& s = text.str();
            if (obu.whole && !obu.known) Require(s == "0");  // another command's answer: dropped
            if (obu.known) {
                if (obu.status != 0) {
                    Require(s == std::string(1, static_cast<char>(obu.status)));
                } else {
                    uint8_t serial[8] = {};
                    for (size_t i = 16; i < obu.answer.size() && i < 24; ++i) serial[i - 16] = obu.answer[i];
                    Require(s == UpperHex(serial, 8));
                }
            }
            if (s.size() == 16) {
                for (char c : s) Require(UpperHexValue(c) >= 0);
                lastSerial = s;
            } else {
                Require(s.size() == 1);
            }
            break;
        }
        case 3: {
            const std::string text = input.Text();
            CheckScode(text, controller.CreateScode(text));
            break;
        }
        default: {
            const std::string text = lastSerial + input.Text();
            CheckScode(text, controller.CreateScode(text));
            break;
        }
        }
    }
    controller.CloseOBU(controller.HoldDevice());
    return 0;
}
