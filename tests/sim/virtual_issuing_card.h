// A virtual issuing card: the card side of the issuing application's commands,
// with the state a real card keeps (its file, its blocks, its issue state and
// its OBU-number list). It logs every command it receives and can be told to
// answer a command with any status word, or not at all.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace sim {

using Bytes = std::vector<uint8_t>;

class VirtualIssuingCard {
public:
    // The card's reply: data and status word, or silence.
    struct Reply {
        bool silent = false;
        Bytes bytes;
    };

    enum class IssueState { kBlank, kIssued, kReturned };

    VirtualIssuingCard();

    // Answers one command.
    Reply Answer(const Bytes& command);

    // Every command received, in order.
    const std::vector<Bytes>& Log() const { return m_log; }
    void ClearLog() { m_log.clear(); }

    // Faults: answer the next `times` commands with instruction `ins` (or every
    // one, times < 0) with the status word `sw` alone, or with silence.
    void AnswerStatus(uint8_t ins, uint16_t sw, int times = -1);
    void AnswerSilence(uint8_t ins, int times = -1);
    // Answer with `data` and 90 00 instead of the usual reply.
    void AnswerData(uint8_t ins, Bytes data, int times = -1);
    void ClearFaults() { m_faults.clear(); }

    // State.
    void SetCardNumber(const Bytes& eightBytes);
    Bytes CardNumber() const;
    IssueState State() const { return m_state; }
    const Bytes& Block() const { return m_block; }          // the 63 bytes written by the block write
    const Bytes& IssueRecord() const { return m_issue; }     // the 45 bytes of the last issue or renewal
    const std::vector<Bytes>& OBUNumbers() const { return m_numbers; }
    void AddNumber(const Bytes& eightBytes) { m_numbers.push_back(eightBytes); }
    int RenewCount() const { return m_renewals; }
    int ReIssueCount() const { return m_reissues; }
    bool Selected() const { return m_selected; }
    void Reset() { m_selected = false; }  // power off and on

    static constexpr size_t kMostNumbers = 20;

private:
    struct Fault {
        int times;
        Reply reply;
    };
    Reply Process(const Bytes& command);
    static Reply Status(uint16_t sw);
    static Reply DataAndOk(Bytes data);

    std::vector<Bytes> m_log;
    std::map<uint8_t, Fault> m_faults;

    bool m_selected = false;
    Bytes m_file;    // the 60 bytes of short file 8
    Bytes m_block;   // 63 bytes
    Bytes m_issue;   // 45 bytes
    std::vector<Bytes> m_numbers;
    IssueState m_state = IssueState::kBlank;
    int m_renewals = 0;
    int m_reissues = 0;
};

// Hexadecimal text of bytes ("90 00" style) for test messages.
std::string HexOf(const Bytes& bytes);
Bytes BytesOf(const char* hex);  // "90 1E 01 00" or "901E0100"

}  // namespace sim
