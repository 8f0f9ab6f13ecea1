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

// layout, I/O time-outs, wait, pause before the command, handshake check,
// answer framing, stop reading once answered, trace line end, reports of
// Length 0 passed over (holder information), reports left on the handle
// dropped first (all: the controller keeps the unit's handle open from one
// command to the next, so an answer that came too late would otherwise be
// read as the next transaction's)
inline constexpr ExchangeProfile kBiuUnitInfoProfile = {
    kBiuReportLayout, 100, 5000, 200, true, AnswerFraming::Gathered, true, "\n", false, true};
inline constexpr ExchangeProfile kBiuUserInfoProfile = {
    kBiuReportLayout, 100, 5000, 100, false, AnswerFraming::Gathered, true, "\n", false, true};
inline constexpr ExchangeProfile kBiuSingleReportProfile = {
    kBiuReportLayout, 100, 5000, 100, false, AnswerFraming::SingleReport, true, "", false, true};
inline constexpr ExchangeProfile kBiuHolderProfile = {
    kBiuReportLayout, 100, 5000, 100, false, AnswerFraming::SingleReport, true, "", true, true};
inline constexpr ExchangeProfile kBiuInitiateProfile = {
    kBiuReportLayout, 100, 5000, 100, false, AnswerFraming::SingleReport, false, "", false, true};

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
