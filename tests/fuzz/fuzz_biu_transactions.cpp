// The biometric unit's commands (web ids 61 to 71) through its controller,
// with a unit that answers from the input: every transaction runs whole
// (receive thread, report gathering, handshake, decryption, the wait) and its
// text is checked against what the unit sealed. The unit seals plaintexts of
// the fuzzer's choosing under the keys the system derives (fuzz_biu_peer.h),
// so that the decrypted answer paths are reached.
//
// Input: the product string (counted), the input report length (2 bytes),
// then operations, one a byte (the unit's answers are read from the input as
// each message is written, see fuzz_biu_peer.h):
//   0 text   SetProductKey        6        GetUserInfo
//   1        OpenBIU              7 text   DeleteFingerprint
//   2        CloseBIU             8 text   DeleteUser
//   3        GetConnectState      9 text   RegistBIUInfo
//   4        InitiateBIU          10 text text  RegistFingerprint
//   5        GetBIUInfo           11 text  VerifyFingerprint
// Texts run to a NUL byte or the end of the input.
#include <cstring>
#include <string>

#include "biometric/biu_controller.h"
#include "biometric/holder_info.h"
#include "biometric/unit_info.h"
#include "biometric/user_info.h"
#include "tests/fuzz/fuzz_biu_peer.h"
#include "tests/fuzz/fuzz_input.h"
#include "tests/fuzz/fuzz_lockstep_hid.h"

namespace {

// The screens' side of ids 67 and 68: what the parameters were cut into.
class CheckingScreens : public FingerprintScreens {
public:
    void RunRegistration(const FingerprintRegistration& input) override
    {
        int named = 0;
        Require(input.registered[0] == 0 && input.registered[11] == 0);
        for (int finger = 1; finger <= 10; ++finger) named += input.registered[finger] == 1;
        Require(input.registeredCount >= 0 && input.registeredCount <= 4 && named <= input.registeredCount);
        Require(input.device != nullptr && input.productKey != nullptr);
        ++shown;
    }
    void RunVerification(const FingerprintVerification& input) override
    {
        Require(input.regId >= 0 && input.regId <= 4);
        ++shown;
    }
    int shown = 0;
};

bool IsDigitForm(char c)
{
    return c >= '0' && c <= '?';
}
bool IsHexForm(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
}

// The answer data the transaction keeps of a plaintext (from byte 16, at most 256 bytes).
std::vector<uint8_t> AnswerData(const std::vector<uint8_t>& plain)
{
    std::vector<uint8_t> d(256, 0);
    for (size_t i = 16; i < plain.size() && i - 16 < d.size(); ++i) d[i - 16] = plain[i];
    return d;
}

void CheckUnitInfo(const CString& text, const FuzzBiuPeer::Seen& seen)
{
    const std::string& s = text.str();
    if (s.size() == 1) {
        Require(s == "0" || s == "2");
    } else {
        Require(s.size() == 207 || s.size() == 208);
        Require(s[0] == '1');
        for (size_t i = 1; i < 35; ++i) Require(IsDigitForm(s[i]));
        for (size_t i = 35; i < 67; ++i) Require(IsHexForm(s[i]));
        for (size_t i = 67; i < s.size(); ++i) Require(IsDigitForm(s[i]));
    }
    if (seen.handshakes == 0) Require(s == "0");
    if (seen.handshakeKnown && !seen.handshakeAccepted) {
        // A refused handshake reads as a unit issued under another number,
        // and no command follows it.
        Require(s == "2" && seen.commands == 0 && seen.undecodable == 0);
    }
    if (seen.handshakeKnown && seen.handshakeAccepted) Require(seen.commands == 1 && seen.command[0] == 0x11);
    if (!seen.answer.empty())
        Require(text == DescribeUnitInfo(true, AnswerData(seen.answer).data()).text);
}

void CheckUserInfo(const CString& text, const FuzzBiuPeer::Seen& seen)
{
    Require(text.GetLength() <= 21);
    if (seen.handshakeKnown) Require(seen.commands == 1 && seen.command[0] == 0x12);
    if (!seen.answer.empty()) Require(text == UserInfoText(AnswerData(seen.answer).data()));
}

// A single-report transaction's request: `command`, and the user in byte 2.
void CheckShortRequest(const CString& text, const FuzzBiuPeer::Seen& seen, uint8_t command, int user)
{
    Require(text == "");
    if (seen.handshakeKnown) {
        Require(seen.commands == 1 && seen.command[0] == command);
        if (user >= 0) Require(seen.command[2] == user);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const std::vector<uint8_t> product = input.Counted();
    const uint16_t inputReportLength = input.Word();
    LockstepHidPlatform platform(std::string(product.begin(), product.end()), inputReportLength, 65);
    FuzzBiuPeer unit(input, platform, 1024);
    platform.peer = &unit;
    ScopedHidPlatform active(platform);
    const bool ours = product.size() >= 8 && std::memcmp(product.data(), "[wendra]", 8) == 0;

    CountingRandom random;
    CheckingScreens screens;
    CQv_BIUIssueCtrl controller;
    controller.SetServices(platform.Services(), &random);
    controller.UseScreens(&screens);
    bool open = false;

    while (!input.Empty()) {
        platform.Drop();
        unit.Begin();
        const int operation = input.Byte() % 12;
        CString text;
        int user = -1;
        switch (operation) {
        case 0: {
            const std::string keyText = input.Text();
            Require(controller.SetProductKey(controller.HoldDevice(), keyText) == "");
            // Two characters a byte by their low four bits, '0' where the text ends.
            for (size_t i = 0; i < 16; ++i) {
                const char high = 2 * i < keyText.size() ? keyText[2 * i] : '0';
                const char low = 2 * i + 1 < keyText.size() ? keyText[2 * i + 1] : '0';
                Require(controller.ProductKey()[i] == ((high & 0x0F) << 4 | (low & 0x0F)));
            }
            std::memcpy(unit.product, controller.ProductKey(), 16);
            break;
        }
        case 1:
            text = controller.OpenBIU(controller.HoldDevice());
            Require(text == (ours ? "2" : "0"));
            open = ours;
            break;
        case 2:
            text = controller.CloseBIU(controller.HoldDevice());
            Require(text == (open ? "2" : "1"));
            open = false;
            break;
        case 3:
            Require(controller.GetConnectState() == (open ? "2" : "0"));
            break;
        case 4: text = controller.InitiateBIU(controller.HoldDevice()); break;
        case 5: text = controller.GetBIUInfo(controller.HoldDevice()); break;
        case 6: text = controller.GetUserInfo(controller.HoldDevice()); break;
        case 7:
        case 8: {
            const std::string userText = input.Text();
            user = userText.empty() ? -1 : static_cast<uint8_t>(userText[0] - '0');
            text = operation == 7 ? controller.DeleteFingerprint(controller.HoldDevice(), userText) : controller.DeleteUser(controller.HoldDevice(), userText);
            break;
        }
        case 9: {
            const std::string holder = input.Text();
            text = controller.RegistBIUInfo(controller.HoldDevice(), holder);
            // A holder text too short for its columns sends nothing.
            if (holder.size() < kBiuHolderTextLength) Require(unit.seen.messages == 0);
            break;
        }
        case 10: {
            const std::string userText = input.Text();
            const std::string fingers = input.Text();
            const int before = screens.shown;
            text = controller.RegistFingerprint(controller.HoldDevice(), userText, fingers);
            Require(screens.shown == before + (open ? 1 : 0));
            break;
        }
        default: {
            const int before = screens.shown;
            text = controller.VerifyFingerprint(controller.HoldDevice(), input.Text());
            Require(screens.shown == before + (open ? 1 : 0));
            break;
        }
        }
        if (operation < 4) continue;
        if (!open) {
            // Nothing reaches a unit that is not open.
            Require(text == "0" && unit.seen.messages == 0);
            continue;
        }
        switch (operation) {
        case 4: CheckShortRequest(text, unit.seen, 0x20, -1); break;
        case 5: CheckUnitInfo(text, unit.seen); break;
        case 6: CheckUserInfo(text, unit.seen); break;
        case 7:
        case 8:
            if (user < 0) {  // no first character: nothing is sent
                Require(text == "" && unit.seen.messages == 0);
            } else {
                CheckShortRequest(text, unit.seen, operation == 7 ? 0x25 : 0x26, user);
            }
            break;
        case 9:
            Require(text == "");
            if (unit.seen.handshakeKnown && unit.seen.commands == 1) {
                const std::vector<uint8_t>& request = unit.seen.command;
                Require(request.size() == kBiuHolderRequestLength && request[0] == 0x30 && request[7] == 0x50);
                for (uint8_t g = 0; g < 4; ++g) Require(request[24 + 18 * g] == g + 1);
            }
            break;
        default: Require(text == "2" && unit.seen.messages == 0); break;
        }
    }
    controller.CloseBIU(controller.HoldDevice());
    return 0;
}
