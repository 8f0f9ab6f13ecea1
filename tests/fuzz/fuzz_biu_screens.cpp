// The fingerprint screens' exchanges with a unit that answers from the input:
// the registration's scans (first and confirmation, 1-bit and 8-bit images,
// failures, retries) and the verification's verdict, their reports gathered
// (up to the scans' 90000 bytes and past them), decrypted under chained keys,
// and decided on. The unit seals plaintexts of the fuzzer's choosing under
// the keys the screen derives (fuzz_biu_peer.h). The target hands each report
// to the screen itself, on this thread (the screen's reader thread is parked),
// and fires the retry timers the screen starts.
//
// Input: a setup byte (bit 0: verification, else registration), the
// registration's user, finger and count of registered fingers and the
// registered-finger bits (2 bytes), or the verification's id, the input
// report length (2 bytes), then steps while input is left (the unit's
// answers are read from the input as each message is written):
//   0      the screen starts its handshake (the finger chosen / the prompt)
//   1      the oldest retry timer the screen started fires
//   2 id   a retry timer fires unasked (1001 + id % 2)
//   3 step the registration's step is set (SetStep)
//   4 len bytes...  a report the unit sends unasked
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "biometric/screen_exchange.h"
#include "tests/fuzz/fuzz_biu_peer.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/fuzz_lockstep_hid.h"

namespace {

// Checks what the screen shows; nothing may follow its end.
class CheckingWindow : public ScreenWindow {
public:
    CheckingWindow(const FuzzBiuPeer& unit, LockstepHidPlatform& platform) : m_unit(unit), m_platform(platform) {}

    // The answer the screen is deciding on is one it read whole.
    bool DecidingKnownAnswer()
    {
        return !m_unit.seen.answer.empty() && m_platform.Taken() == m_unit.seen.answerLastReport;
    }

    void ShowBox(const char* text, bool) override
    {
        Shown();
        Require(text != nullptr && text[0] != '\0');
        lastBox = text;
    }
    void StartRetryTimer(unsigned id, unsigned) override
    {
        Shown();
        Require(id == CRegistScan::kRepeatFirstTimer || id == CRegistScan::kRepeatConfirmationTimer);
        timers.push_back(id);
    }
    void ShowScanImage(bool, const ScanImage& image) override
    {
        Shown();
        Require(image.width >= 0 && image.height >= 0);
        Require(image.pixels.size() == static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
        Require(image.pixels.size() <= CRegistScan::kAnswerCapacity * 8);
        for (uint32_t pixel : image.pixels) Require(pixel >> 24 == 0 && (pixel & 0xFF) * 0x010101u == pixel);
        // An image from an answer the screen read whole shows its pixels.
        const std::vector<uint8_t>& plain = m_unit.seen.answer;
        if (DecidingKnownAnswer() && plain.size() >= 24 && image.width > 0 && image.height > 0) {
            Require(image.width == (plain[18] << 8 | plain[19]) && image.height <= (plain[20] << 8 | plain[21]));
            if (plain[22] != 0 && plain.size() > 24) Require(image.pixels[0] == plain[24] * 0x010101u);
        }
    }
    void FinishRegistration() override { Shown(); }
    void CloseScreen() override
    {
        Shown();
        closed = true;
    }
    void Repaint() override {}
    void CloseReaderBoxes() override {}  // the boxes return at once

    std::deque<unsigned> timers;
    std::string lastBox;
    bool closed = false;

private:
    void Shown() { Require(!closed); }
    const FuzzBiuPeer& m_unit;
    LockstepHidPlatform& m_platform;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const uint8_t setup = input.Byte();
    const bool verification = setup & 1;
    const uint8_t user = input.Byte();
    const uint8_t finger = input.Byte() % 12;
    const int32_t registeredCount = input.Byte() % 6;
    const uint16_t registeredBits = input.Word();
    const int8_t regId = static_cast<int8_t>(user);
    const uint16_t inputReportLength = input.Word();

    LockstepHidPlatform platform("[wendra] fingerprint unit", inputReportLength, 65);
    FuzzBiuPeer unit(input, platform, verification ? CVerifyScan::kAnswerCapacity : CRegistScan::kAnswerCapacity);
    unit.fixedRandomInEveryHandshake = false;
    platform.peer = &unit;
    platform.Park();
    ScopedHidPlatform active(platform);
    CBIUHIDDevice record;
    Require(record.OpenDevice(0) == kHidDone);

    CountingRandom random;
    CheckingWindow window(unit, platform);
    int32_t registered[12] = {};
    for (int f = 0; f < 12; ++f) registered[f] = registeredBits >> f & 1;
    const uint8_t key[16] = {};
    CRegistScan registration(record, key, window, user, registered, registeredCount);
    CVerifyScan verify(record, key, window, regId);
    CScreenExchange& screen = verification ? static_cast<CScreenExchange&>(verify) : registration;
    screen.SetServices(platform.Services());
    screen.SetRandomSource(random);
    Require(screen.StartReading());

    // Each step's reports are handed over until none is left; a step that
    // leads to nothing ends when the input does.
    for (int steps = 0; steps < 256 && !input.Empty(); ++steps) {
        switch (input.Byte() % 5) {
        case 0:
            unit.Begin();
            if (verification) {
                verify.OnPromptTimer();
            } else {
                registration.StartFingerRegist(finger);
            }
            break;
        case 1:
            if (!window.timers.empty() && !verification) {
                registration.OnRetryTimer(window.timers.front());
                window.timers.pop_front();
            }
            break;
        case 2:
            if (!verification) registration.OnRetryTimer(CRegistScan::kRepeatFirstTimer + input.Byte() % 2);
            break;
        case 3:
            if (!verification) registration.SetStep(input.Byte() % 4);
            break;
        default:
            platform.Send(input.Counted());
            break;
        }
        FuzzReport report;
        for (int reports = 0; reports < 0x20000 && platform.TakeQueued(report); ++reports) {
            window.lastBox.clear();
            screen.OnReceive(report.data(), report.size());
            if (verification && window.DecidingKnownAnswer()) {
                // A verdict read whole, to the command asked: a match names the
                // registration the unit gave.
                const std::vector<uint8_t>& plain = unit.seen.answer;
                const uint8_t asked = regId >= 1 && regId <= 4 ? 0x23 : 0x24;
                if (plain[0] == asked && !(plain[1] & 1))
                    Require(window.lastBox == "등록ID : [" + std::to_string(plain[2]) + "]로 등록된 지문입니다.");
            }
        }
    }
    platform.Drop();
    platform.Unpark();
    screen.Join();
    record.CloseHandleAndReset();
    return 0;
}
