#include "tests/sim/virtual_issuing_card.h"

#include <cstdio>
#include <string>

namespace sim {

namespace {

// The card's application and its instructions.
const Bytes kAid = {0xA0, 0x00, 0x00, 0x02, 0x45, 0x00, 0x01};
constexpr uint8_t kClaIso = 0x00;
constexpr uint8_t kClaProprietary = 0x90;

constexpr uint16_t kOk = 0x9000;
constexpr uint16_t kWrongLength = 0x6700;
constexpr uint16_t kNotAllowed = 0x6985;
constexpr uint16_t kFileNotFound = 0x6A82;
constexpr uint16_t kFull = 0x6A84;
constexpr uint16_t kWrongP1P2 = 0x6B00;
constexpr uint16_t kNoInstruction = 0x6D00;
constexpr uint16_t kNoClass = 0x6E00;

}  // namespace

VirtualIssuingCard::VirtualIssuingCard() : m_file(60), m_block(63), m_issue(45)
{
    // Short file 8: a header, then the card number at bytes 12 to 19.
    for (size_t i = 0; i < m_file.size(); ++i)
        m_file[i] = static_cast<uint8_t>(0xA0 + i);
    SetCardNumber({0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x70, 0x8F});
}

void VirtualIssuingCard::SetCardNumber(const Bytes& eightBytes)
{
    for (size_t i = 0; i < 8; ++i)
        m_file[12 + i] = eightBytes.at(i);
}

Bytes VirtualIssuingCard::CardNumber() const
{
    return Bytes(m_file.begin() + 12, m_file.begin() + 20);
}

void VirtualIssuingCard::AnswerStatus(uint8_t ins, uint16_t sw, int times)
{
    m_faults[ins] = {times, Status(sw)};
}

void VirtualIssuingCard::AnswerSilence(uint8_t ins, int times)
{
    Reply silence;
    silence.silent = true;
    m_faults[ins] = {times, silence};
}

void VirtualIssuingCard::AnswerData(uint8_t ins, Bytes data, int times)
{
    m_faults[ins] = {times, DataAndOk(std::move(data))};
}

VirtualIssuingCard::Reply VirtualIssuingCard::Status(uint16_t sw)
{
    return {false, {static_cast<uint8_t>(sw >> 8), static_cast<uint8_t>(sw)}};
}

VirtualIssuingCard::Reply VirtualIssuingCard::DataAndOk(Bytes data)
{
    data.push_back(0x90);
    data.push_back(0x00);
    return {false, std::move(data)};
}

VirtualIssuingCard::Reply VirtualIssuingCard::Answer(const Bytes& command)
{
    m_log.push_back(command);
    if (command.size() >= 2) {
        auto fault = m_faults.find(command[1]);
        if (fault != m_faults.end() && fault->second.times != 0) {
            Reply reply = fault->second.reply;
            if (fault->second.times > 0 && --fault->second.times == 0)
                m_faults.erase(fault);
            return reply;
        }
    }
    return Process(command);
}

VirtualIssuingCard::Reply VirtualIssuingCard::Process(const Bytes& c)
{
    if (c.size() < 4)
        return Status(kWrongLength);
    const uint8_t cla = c[0], ins = c[1], p1 = c[2], p2 = c[3];
    const size_t p3 = c.size() > 4 ? c[4] : 0;
    const Bytes body = c.size() > 5 ? Bytes(c.begin() + 5, c.end()) : Bytes();
    // For a command with data, P3 is Lc and must count the data.
    auto dataFits = [&] { return body.size() == p3; };

    if (cla != kClaIso && cla != kClaProprietary)
        return Status(kNoClass);

    if (cla == kClaIso && ins == 0xA4) {  // SELECT
        if (p1 != 0x04 || !dataFits())
            return Status(kWrongP1P2);
        m_selected = body == kAid;
        return m_selected ? Status(0x611A) : Status(kFileNotFound);
    }
    if (!m_selected)
        return Status(kNotAllowed);

    if (cla == kClaIso) {
        switch (ins) {
        case 0xB0:  // READ BINARY, short file in P1
            if ((p1 & 0x80) == 0 || (p1 & 0x1F) != 8)
                return Status(kFileNotFound);
            if (p2 + p3 > m_file.size() || !body.empty())
                return Status(kWrongLength);
            return DataAndOk(Bytes(m_file.begin() + p2, m_file.begin() + p2 + (p3 ? p3 : m_file.size() - p2)));
        case 0xCA:  // GET DATA 01 32: how many OBU numbers the card holds
            if (p1 != 0x01 || p2 != 0x32)
                return Status(kFileNotFound);
            if (p3 != 2)
                return Status(kWrongLength);
            return DataAndOk({static_cast<uint8_t>(m_numbers.size() >> 8), static_cast<uint8_t>(m_numbers.size())});
        default:
            return Status(kNoInstruction);
        }
    }

    switch (ins) {
    case 0x16:  // read the issue block
        if (p3 != 63)
            return Status(kWrongLength);
        return DataAndOk(m_block);
    case 0x18:  // write the block
        if (p3 != 63 || !dataFits())
            return Status(kWrongLength);
        m_block = body;
        return Status(kOk);
    case 0x1C: {  // read the record: the block, and for 126 bytes the issue area after it
        if (p3 != 63 && p3 != 126)
            return Status(kWrongLength);
        Bytes data = m_block;
        if (p3 == 126) {
            data.push_back(static_cast<uint8_t>(m_state));
            data.insert(data.end(), m_issue.begin(), m_issue.end());
            data.resize(126, 0x00);
        }
        return DataAndOk(data);
    }
    case 0x1E:  // issue, return, renew, re-issue, terminal
        switch (p1) {
        case 0x01:  // issue: F8 + 45 bytes
            if (p3 != 46 || !dataFits() || body[0] != 0xF8)
                return Status(kWrongLength);
            if (m_state == IssueState::kIssued)
                return Status(kNotAllowed);
            m_issue.assign(body.begin() + 1, body.end());
            m_state = IssueState::kIssued;
            return Status(kOk);
        case 0x03:  // renew: 78 + 45 bytes
            if (p3 != 46 || !dataFits() || body[0] != 0x78)
                return Status(kWrongLength);
            if (m_state != IssueState::kIssued)
                return Status(kNotAllowed);
            m_issue.assign(body.begin() + 1, body.end());
            ++m_renewals;
            return Status(kOk);
        case 0x02:  // return
            if (m_state != IssueState::kIssued)
                return Status(kNotAllowed);
            m_state = IssueState::kReturned;
            return Status(kOk);
        case 0x04:  // re-issue
            if (m_state == IssueState::kBlank)
                return Status(kNotAllowed);
            m_state = IssueState::kIssued;
            ++m_reissues;
            return Status(kOk);
        case 0x06:  // terminal query
            return Status(kOk);
        default:
            return Status(kWrongP1P2);
        }
    case 0x22:  // add an OBU number
        if (p3 != 8 || !dataFits())
            return Status(kWrongLength);
        for (const Bytes& n : m_numbers)
            if (n == body)
                return Status(kNotAllowed);
        if (m_numbers.size() >= kMostNumbers)
            return Status(kFull);
        m_numbers.push_back(body);
        return Status(kOk);
    default:
        return Status(kNoInstruction);
    }
}

std::string HexOf(const Bytes& bytes)
{
    std::string text;
    char digits[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(digits, sizeof digits, i ? " %02X" : "%02X", bytes[i]);
        text += digits;
    }
    return text;
}

Bytes BytesOf(const char* hex)
{
    Bytes bytes;
    int high = -1;
    for (const char* p = hex; *p; ++p) {
        int v;
        if (*p >= '0' && *p <= '9') v = *p - '0';
        else if (*p >= 'A' && *p <= 'F') v = *p - 'A' + 10;
        else if (*p >= 'a' && *p <= 'f') v = *p - 'a' + 10;
        else continue;
        if (high < 0) {
            high = v;
        } else {
            bytes.push_back(static_cast<uint8_t>(high * 16 + v));
            high = -1;
        }
    }
    return bytes;
}

}  // namespace sim
