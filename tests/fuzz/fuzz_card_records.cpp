// The page's comma texts cut into items and packed into the issue record, the
// re-issue record and the OBU number queue, and the card commands that carry
// them (ids 28, 29, 50, 51) over a card that accepts everything. Every text
// must come out on the card as the packing rules give it, worked out here on
// their own; a text with an item that would run past its field must send
// nothing.
//
// Input: a command byte, then the page's text (the rest of the input).
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
using Bytes = std::vector<uint8_t>;

// The items of a list: each ends at its comma; the text after the last comma
// is no item.
std::vector<std::string> Items(std::string_view text)
{
    std::vector<std::string> items;
    for (size_t comma; (comma = text.find(',')) != std::string_view::npos; text.remove_prefix(comma + 1))
        items.emplace_back(text.substr(0, comma));
    return items;
}

// A field of `width` bytes packed from `item`: two characters a byte, high
// four bits first, each worth its code less 0x30 (hexadecimal: less 0x37 above
// 0x40), modulo 256; an odd item packs nothing; a long one stops at the field.
Bytes Field(const std::string& item, size_t width, bool hex)
{
    auto value = [hex](unsigned char c) { return hex && c > 0x40 ? c - 0x37 : c - 0x30; };
    Bytes field(width, 0);
    if (item.size() % 2 == 0)
        for (size_t i = 0; i < width && 2 * i + 1 < item.size(); ++i)
            field[i] = static_cast<uint8_t>((value(item[2 * i]) * 16 + value(item[2 * i + 1])) & 0xFF);
    return field;
}

const size_t kIssueWidths[CIssueData::kFieldCount] = {1, 1, 1, 1, 2, 4, 4, 1, 20, 10};

// The 45 bytes of the ten issue items from `first` on, and whether every one
// stays inside its field.
Bytes IssueRecord(const std::vector<std::string>& items, size_t first, bool* fits = nullptr)
{
    Bytes record;
    if (fits) *fits = true;
    for (size_t f = 0; f < CIssueData::kFieldCount; ++f) {
        const std::string item = first + f < items.size() ? items[first + f] : "";
        const Bytes field = Field(item, kIssueWidths[f], f == 7);
        record.insert(record.end(), field.begin(), field.end());
        if (fits && item.size() % 2 == 0 && item.size() > 2 * kIssueWidths[f]) *fits = false;
    }
    return record;
}

bool NumbersFit(const std::vector<std::string>& items)
{
    for (size_t n = 0; n < 2 && n < items.size(); ++n)
        if (items[n].size() % 2 == 0 && items[n].size() > 16) return false;
    return true;
}

// The OBU numbers queued from a list: items of exactly 16 characters, looked
// for while 17 characters or more are left.
std::vector<std::string> Numbers(std::string_view list)
{
    std::vector<std::string> numbers;
    for (size_t comma; (comma = list.find(',')) != std::string_view::npos;) {
        if (comma == 16) numbers.emplace_back(list.substr(0, 16));
        list.remove_prefix(comma + 1);
        if (list.size() < 17) break;
    }
    return numbers;
}

// Whatever a record packer is given, it writes its record and no more, as the
// rules give it.
void PackAnything(std::string_view text)
{
    const std::vector<std::string> items = Items(text);
    CIssueData issue;
    Require(issue.ParseIssueRecord(text) == 1);
    Bytes record(CIssueData::kRecordSize);
    int length = 0;
    issue.BuildIssueRecord45(record.data(), &length);
    Require(length == static_cast<int>(CIssueData::kRecordSize));
    bool fits = false;
    Require(record == IssueRecord(items, 0, &fits));
    Require(CIssueData::CheckIssueText(text) == fits);

    CNoOBUReIssueData reissue;
    reissue.Parse(text);
    Bytes packed(CNoOBUReIssueData::kRecordSize);
    reissue.Pack(packed.data(), &length);
    Require(length == static_cast<int>(CNoOBUReIssueData::kRecordSize));
    Bytes expected = {CNoOBUReIssueData::kRecordType};
    for (size_t n = 0; n < 2; ++n) {
        const Bytes number = Field(n < items.size() ? items[n] : "", 8, false);
        expected.insert(expected.end(), number.begin(), number.end());
    }
    expected.push_back(CNoOBUReIssueData::kIssueMark);
    const Bytes rest = IssueRecord(items, 2, &fits);
    expected.insert(expected.end(), rest.begin(), rest.end());
    Require(packed == expected);
    Require(CNoOBUReIssueData::CheckReIssueText(text) == (fits && NumbersFit(items)));

    COBUNumber numbers;
    numbers.Parse(text);
    const std::vector<std::string> queued = Numbers(text);
    Require(numbers.Count() == queued.size());
    uint8_t out[COBUNumber::kPackedSize + 1];
    for (const std::string& number : queued) {
        out[COBUNumber::kPackedSize] = 0xEE;
        Require(numbers.GetNext(out) == 1);
        Require(out[COBUNumber::kPackedSize] == 0xEE);
        Require(Bytes(out, out + COBUNumber::kPackedSize) == Field(number, 8, false));
    }
    Require(numbers.GetNext(out) == 0);
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
    const std::vector<std::string> items = Items(repaired);
    switch (id) {
    case 28: {
        const std::vector<std::string> queued = Numbers(repaired);
        Require(answer == "1:0");
        Require(sent.size() == queued.size());
        for (size_t n = 0; n < sent.size(); ++n) {
            Require(sent[n].size() == 13 && sent[n][1] == 0x22);
            Require(Bytes(sent[n].begin() + 5, sent[n].end()) == Field(queued[n], 8, false));
        }
        break;
    }
    case 29:
    case 51: {
        bool fits = false;
        const Bytes record = IssueRecord(items, 0, &fits);
        Require(answer == (fits ? "1:1" : "1:0"));
        Require(sent.size() == (fits ? 1u : 0u));
        if (fits) {
            Require(sent[0].size() == 5 + 1 + CIssueData::kRecordSize);
            Require(sent[0][5] == (id == 29 ? 0xF8 : 0x78));
            Require(Bytes(sent[0].begin() + 6, sent[0].end()) == record);
        }
        break;
    }
    default: {
        bool fits = false;
        const Bytes record = IssueRecord(items, 2, &fits);
        fits = fits && NumbersFit(items);
        Require(answer == (fits ? "1:1" : "1:0"));
        Require(sent.size() == (fits ? 3u : 0u));
        if (fits) {
            Require(sent[2].size() == 5 + CNoOBUReIssueData::kRecordSize && sent[2][1] == 0x18);
            Require(Bytes(sent[2].begin() + 5 + 18, sent[2].end()) == record);
        }
        break;
    }
    }
    return 0;
}
