// The page's comma texts cut into items and packed into the issue record, the
// re-issue record and the OBU number queue, and the card commands that carry
// them (ids 28, 29, 50, 51) over a card that accepts everything. A text that
// fits its record must come out on the card digit for digit; a text that does
// not fit must send nothing.
//
// Input: a command byte, then the page's text (the rest of the input).
#include <cctype>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "agent/card/issue_records.h"
#include "agent/card/pcsc_link.h"
#include "agent/commands/obu_issue_ctrl.h"
#include "tests/fuzz/fuzz_input.h"

namespace {

using card::CIssueData;
using card::CNoOBUReIssueData;
using card::COBUNumber;

// What a field that fits shows in hexadecimal: its digits, then zeros.
std::string FieldText(std::string_view item, size_t width)
{
    std::string text = item == "0" ? "" : std::string(item);
    text.resize(2 * width, '0');
    return text;
}

const size_t kIssueWidths[CIssueData::kFieldCount] = {1, 1, 1, 1, 2, 4, 4, 1, 20, 10};

// The ten issue items of `text` as the 45 bytes show them.
std::string IssueRecordText(std::string_view text)
{
    std::string expected;
    for (size_t width : kIssueWidths) {
        const size_t comma = text.find(',');
        expected += FieldText(text.substr(0, comma), width);
        text.remove_prefix(comma + 1);
    }
    return expected;
}

// Whatever a record packer is given, it writes its record and no more.
void PackAnything(std::string_view text)
{
    CIssueData issue;
    Require(issue.ParseIssueRecord(text) == 1);
    std::vector<uint8_t> record(CIssueData::kRecordSize);
    int length = 0;
    issue.BuildIssueRecord45(record.data(), &length);
    Require(length == static_cast<int>(CIssueData::kRecordSize));
    if (CIssueData::CheckIssueText(text)) Require(UpperHex(record.data(), record.size()) == IssueRecordText(text));

    CNoOBUReIssueData reissue;
    reissue.Parse(text);
    std::vector<uint8_t> packed(CNoOBUReIssueData::kRecordSize);
    reissue.Pack(packed.data(), &length);
    Require(length == static_cast<int>(CNoOBUReIssueData::kRecordSize));
    Require(packed[0] == CNoOBUReIssueData::kRecordType && packed[17] == CNoOBUReIssueData::kIssueMark);
    if (CNoOBUReIssueData::CheckReIssueText(text)) {
        std::string_view rest = text;
        const std::string first(card::CutItem(rest));
        const std::string second(card::CutItem(rest));
        Require(UpperHex(packed.data() + 1, 8) == FieldText(first, 8));
        Require(UpperHex(packed.data() + 9, 8) == FieldText(second, 8));
        Require(UpperHex(packed.data() + 18, CIssueData::kRecordSize) == IssueRecordText(rest));
    }

    COBUNumber numbers;
    numbers.Parse(text);
    const bool fits = COBUNumber::CheckNumberList(text);
    if (fits) Require(numbers.Count() == text.size() / 17);
    std::string_view rest = text;
    uint8_t out[COBUNumber::kPackedSize + 1];
    while (true) {
        out[COBUNumber::kPackedSize] = 0xEE;
        if (!numbers.GetNext(out)) break;
        Require(out[COBUNumber::kPackedSize] == 0xEE);
        if (fits) {
            Require(UpperHex(out, COBUNumber::kPackedSize) == std::string(card::CutItem(rest)));
        }
    }
    Require(numbers.Count() == 0);
}

// A card that accepts every command, and remembers what it was sent.
class AcceptingCard : public card::IPcscLink {
public:
    std::vector<std::vector<uint8_t>> commands;

    bool Connect() override { return true; }
    bool Transmit(const uint8_t* request, size_t requestLength, uint8_t* reply, size_t capacity,
                  size_t& replyLength) override
    {
        Require(capacity >= 2);
        commands.emplace_back(request, request + requestLength);
        const bool select = requestLength >= 2 && request[1] == 0xA4;
        reply[0] = select ? 0x61 : 0x90;
        reply[1] = select ? 0x1A : 0x00;
        replyLength = 2;
        return true;
    }
    void Close() override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput input(data, size);
    const uint8_t command = input.Byte();
    const std::vector<uint8_t> bytes = input.Bytes(input.Left());
    const std::string text(bytes.begin(), bytes.end());
    PackAnything(text);

    AcceptingCard card;
    COBUIssueCtrl ctrl;
    ctrl.CardAccess().UseLinks(nullptr, &card);
    const int ids[] = {28, 29, 50, 51};
    const int id = ids[command % 4];
    CString answer;
    Require(ctrl.RunCommand(id, CString(text), answer));

    // What the command sent after its SELECT: the records of the repaired text.
    const std::string repaired = COBUIssueCtrl::RepairComma(CString(text)).str();
    std::vector<std::vector<uint8_t>> sent(card.commands.begin() + (card.commands.empty() ? 0 : 1),
                                           card.commands.end());
    switch (id) {
    case 28: {
        const bool fits = COBUNumber::CheckNumberList(repaired);
        Require(answer == (fits ? "1:0" : "1:1"));
        Require(sent.size() == (fits ? repaired.size() / 17 : 0));
        std::string_view rest = repaired;
        for (const auto& apdu : sent) {
            Require(apdu.size() == 13 && apdu[1] == 0x22);
            Require(UpperHex(apdu.data() + 5, 8) == std::string(card::CutItem(rest)));
        }
        break;
    }
    case 29:
    case 51: {
        const bool fits = CIssueData::CheckIssueText(repaired);
        Require(answer == (fits ? "1:1" : "1:0"));
        Require(sent.size() == (fits ? 1u : 0u));
        if (fits) {
            Require(sent[0].size() == 5 + 1 + CIssueData::kRecordSize);
            Require(sent[0][5] == (id == 29 ? 0xF8 : 0x78));
            Require(UpperHex(sent[0].data() + 6, CIssueData::kRecordSize) == IssueRecordText(repaired));
        }
        break;
    }
    default: {
        const bool fits = CNoOBUReIssueData::CheckReIssueText(repaired);
        Require(answer == (fits ? "1:1" : "1:0"));
        Require(sent.size() == (fits ? 3u : 0u));
        if (fits) {
            Require(sent[2].size() == 5 + CNoOBUReIssueData::kRecordSize && sent[2][1] == 0x18);
            std::string_view rest = repaired;
            card::CutItem(rest);
            card::CutItem(rest);
            Require(UpperHex(sent[2].data() + 5 + 18, CIssueData::kRecordSize) == IssueRecordText(rest));
        }
        break;
    }
    }
    return 0;
}
