// The biometric unit's secure exchange: CSecureExchange (obulink) with the
// unit's profiles and what every unit transaction shares.
//
// How the unit differs from the OBU is data, in the four profiles below:
//   report id 0 and 65-byte reports (56 data bytes each), 100 ms reads and
//   writes, a 5000 ms wait, a 100 ms pause before the command (200 ms for the
//   unit information), a handshake check only in the unit information, answers
//   gathered over several reports (unit and user information) or taken whole
//   from one report (the others), a receive thread that reads on after the
//   answer (initiation only), traces that end in a line feed (unit and
//   user information), and reports left on the handle dropped before the
//   first request.
// And in CBiuTransaction: the fixed handshake AppRandom, the finish banner all
// unit transactions share, and their answer-head trace.
//
// Unlike the OBU's, the unit's transactions do not read the answer's status
// byte: each words its own result from the answer data (or from nothing).
#pragma once

#include <cstddef>
#include <cstdint>

#include "obulink/secure_exchange.h"

// The unit's command table (message byte 0).
enum BiuCommand : uint8_t {
    kBiuRandomKey = 0x10,
    kBiuGetUnitInfo = 0x11,
    kBiuGetUserInfo = 0x12,
    kBiuInitiate = 0x20,
    kBiuRegistScan = 0x21,
    kBiuVerifyUser = 0x23,
    kBiuVerifyAll = 0x24,
    kBiuDeleteFingerprints = 0x25,
    kBiuDeleteUser = 0x26,
    kBiuRegistHolder = 0x30,
};

// What every profile of the unit has: report id 0 and 65-byte reports, 100 ms
// reads and writes, a 5000 ms wait, and the reports left on the handle dropped
// first (the controller keeps the unit's handle open from one command to the
// next, so an answer that came too late would otherwise be read as the next
// transaction's); `profile` gives the rest.
constexpr ExchangeProfile BiuProfile(ExchangeProfile profile)
{
    profile.layout = kBiuReportLayout;
    profile.ioTimeoutMs = 100;
    profile.waitLimitMs = 5000;
    profile.dropWaitingInput = true;
    return profile;
}

inline constexpr ExchangeProfile kBiuUnitInfoProfile = BiuProfile({
    .pauseBeforeCommandMs = 200,
    .refuseBadRandomKeyAnswer = true,
    .answerFraming = AnswerFraming::Gathered,
    .traceLineEnd = "\n",
});
inline constexpr ExchangeProfile kBiuUserInfoProfile = BiuProfile({
    .pauseBeforeCommandMs = 100,
    .refuseBadRandomKeyAnswer = false,
    .answerFraming = AnswerFraming::Gathered,
    .traceLineEnd = "\n",
});
inline constexpr ExchangeProfile kBiuSingleReportProfile = BiuProfile({
    .pauseBeforeCommandMs = 100,
    .refuseBadRandomKeyAnswer = false,
    .answerFraming = AnswerFraming::SingleReport,
});
// Holder information: a report of Length 0 is passed over.
inline constexpr ExchangeProfile kBiuHolderProfile = BiuProfile({
    .pauseBeforeCommandMs = 100,
    .refuseBadRandomKeyAnswer = false,
    .answerFraming = AnswerFraming::SingleReport,
    .skipEmptySingleReport = true,
});
// Initiation: the receive thread reads on after the answer.
inline constexpr ExchangeProfile kBiuInitiateProfile = BiuProfile({
    .pauseBeforeCommandMs = 100,
    .refuseBadRandomKeyAnswer = false,
    .answerFraming = AnswerFraming::SingleReport,
    .stopReadingWhenDone = false,
});

class CBiuTransaction : public CSecureExchange {
public:
    // The handshake AppRandom of every unit transaction (the unit takes it
    // from the request, so any fixed value serves).
    static void FixedHandshakeRandom(uint8_t out[8]);

protected:
    CBiuTransaction(const CHidDeviceRecord& device, const uint8_t productKey[16], const ExchangeProfile& profile);

    void DrawHandshakeRandom(uint8_t out[8]) override { FixedHandshakeRandom(out); }
    bool TracesProductNum() const override { return false; }
    const char* FinishBanner() const override;
    // "[Return 되는 처리 결과]" and the four head lines.
    void TraceAnswerHead(const uint8_t* plain) override;

    // A 16-byte request: `command`, then `param1Low` in byte 2 (the user
    // number where a command takes one); bytes 8-15 already hold the AppRandom.
    static size_t ComposeShortRequest(uint8_t* message, uint8_t command, uint8_t param1Low = 0);

    // Byte groups in upper case ("[%02X]"), as some unit traces write reports.
    ExchangeTrace UpperCaseTrace() const { return ExchangeTrace(m_Profile.traceLineEnd, "[%02X]"); }
    // The bytes of one written report.
    size_t ReportLength() const { return m_Profile.layout.reportLength; }
};
