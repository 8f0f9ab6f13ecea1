// The framing of the secure exchange over HID reports, written once for the
// OBU and the biometric unit.
//
// A report: byte 0 the report id, bytes 1-8 the HidPacketHeader, then the
// message bytes of this report. A message (MessageHead and data) longer than
// one report's data area goes out in several reports: Data Type 1 in the
// first, 2 in the others, Packet Index counting from 0, DataLength the whole
// message in every report.
//
//   device       report id   report length   data bytes per report
//   OBU          0x01        64              55
//   biometric    0x00        65              56
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

struct HidReportLayout {
    uint8_t reportId;
    size_t reportLength;  // report id included

    size_t DataCapacity() const { return reportLength - kDataOffset; }
    static constexpr size_t kDataOffset = 9;
};

inline constexpr HidReportLayout kObuReportLayout = {0x01, 64};
inline constexpr HidReportLayout kBiuReportLayout = {0x00, 65};

// Report bytes 1-8.
struct HidPacketHeader {
    static constexpr uint8_t kFirstReport = 1;
    static constexpr uint8_t kFollowingReport = 2;

    uint8_t dataType = 0;
    uint16_t packetIndex = 0;   // big-endian on the wire
    uint32_t dataLength = 0;    // 24 bits, big-endian on the wire
    uint8_t length = 0;         // data bytes in this report
    uint8_t reserved = 0;

    void WriteTo(uint8_t* report) const;           // report bytes 1-8
    static HidPacketHeader ReadFrom(const uint8_t* report);
};

// Message bytes 0-15, the plaintext head of every request and answer.
struct MessageHead {
    static constexpr size_t kSize = 16;
    static constexpr size_t kRandomOffset = 8;
    static constexpr size_t kRandomSize = 8;

    uint8_t command = 0;
    uint8_t param1[2] = {};   // in answers, param1[0] is the status byte
    uint8_t param2[2] = {};
    uint8_t dataSize[3] = {};
    uint8_t random[kRandomSize] = {};  // AppRandom in requests, DeviceRandom in the random-key answer

    void WriteTo(uint8_t* message) const;
    static MessageHead ReadFrom(const uint8_t* message);
    // Answer bytes 1 and 2, byte 1 in the low half.
    uint16_t Status() const { return static_cast<uint16_t>(param1[0] | (param1[1] << 8)); }
};

// One report of a framed message, zero wherever no field or data stands.
using HidReport = std::vector<uint8_t>;

// Cuts `message` (n bytes, n >= 1) into reports of `layout`.
std::vector<HidReport> FrameMessage(const HidReportLayout& layout, const uint8_t* message, size_t n);

// Gathers the data bytes of an answer that comes in one or more reports.
// Packet Index 0 starts a message again; any other index appends. The answer
// is complete when the bytes gathered reach the DataLength of the last report.
// A report whose Length exceeds the data it carries, a DataLength or a total
// beyond the capacity make the answer malformed; nothing is ever written past
// the buffer.
class AnswerAccumulator {
public:
    static constexpr size_t kCapacity = 1024;

    // `capacity`: the longest answer taken (the fingerprint screens gather
    // scanned images of up to 90000 bytes).
    explicit AnswerAccumulator(size_t capacity = kCapacity) : m_RecvBuf(capacity, 0) {}

    enum class Step { NeedMore, Complete, Malformed };

    // `data` holds `available` bytes of the report after its header.
    Step Add(const HidPacketHeader& header, const uint8_t* data, size_t available);
    void Clear();

    const uint8_t* Bytes() const { return m_RecvBuf.data(); }
    size_t Count() const { return m_nRecvLen; }
    size_t Capacity() const { return m_RecvBuf.size(); }

private:
    std::vector<uint8_t> m_RecvBuf;
    size_t m_nRecvLen = 0;
};
