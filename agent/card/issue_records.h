// The records the issuing page's texts are written to the card as.
//
// The page sends comma lists: every item is followed by one comma, the last one
// too. Digits are packed two to a byte, the first in the high four bits.
//   CIssueData         the ten-field issue record, 45 bytes
//   CNoOBUReIssueData  two 16-digit numbers and the issue record, 63 bytes
//   COBUNumber         the queue of 16-digit OBU numbers written one by one
//
// Parsing never writes outside a record: an item longer than its field is cut
// to the field. The Check functions tell whether a text fits its record as a
// whole (every item there, every item followed by its comma, only the field's
// digits, an even count of them and no more than the field holds); the card
// commands refuse a text that does not fit and send nothing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace card {

enum class Digits { kDecimal, kHexadecimal };

// Packs `item` two characters to a byte into at most `width` bytes of `field`:
// byte = value(first) * 16 + value(second) (mod 256), value(c) = c - '0' for the
// decimal packing and also for the hexadecimal one up to '@', c - '7' above it.
// A text of odd length packs nothing. Returns true when it packed (also for an
// empty text).
bool PackDecimalDigits(std::string_view item, uint8_t* field, size_t width);
bool PackHexDigits(std::string_view item, uint8_t* field, size_t width);

// True when `item` may be written to a field of `width` bytes: empty or "0" (the
// field stays zero), or an even number, at most 2 * width, of the field's digits
// (0-9, and A-F for hexadecimal fields).
bool ItemFitsField(std::string_view item, size_t width, Digits digits);

// Cuts the next item off `rest`: the text before the first comma, `rest` going
// on after it. With no comma left the item is empty and `rest` is emptied.
// `complete`, when given, tells whether the item had its comma.
std::string_view CutItem(std::string_view& rest, bool* complete = nullptr);

class CIssueData {
public:
    static constexpr size_t kFieldCount = 10;
    static constexpr size_t kRecordSize = 45;

    CIssueData();
    virtual ~CIssueData();

    // Clears the record and packs the first ten items of `text` into its fields;
    // whatever follows them is ignored. Returns 1.
    int ParseIssueRecord(std::string_view text);
    // Writes the 45-byte record and 45 to `outLength`. Returns 1.
    int BuildIssueRecord45(uint8_t* out, int* outLength) const;

    // True when the first ten items of `text` are there, each with its comma,
    // and each fits its field. `rest` receives what follows the tenth comma.
    static bool CheckIssueText(std::string_view text, std::string_view* rest = nullptr);

protected:
    uint8_t m_record[kRecordSize];
};

class CNoOBUReIssueData : public CIssueData {
public:
    static constexpr size_t kNumberSize = 8;
    static constexpr size_t kRecordSize = 63;
    static constexpr uint8_t kRecordType = 0x04;
    static constexpr uint8_t kIssueMark = 0xF8;

    CNoOBUReIssueData();

    // Packs the first two items into the two numbers and the rest of the text as
    // the issue record. Returns 1.
    int Parse(std::string_view text);
    // Writes the 63-byte re-issue record: type, first number, second number, F8,
    // the issue record. Returns 1.
    int Pack(uint8_t* out, int* outLength) const;

    // Two numbers and then the ten issue items, as CheckIssueText.
    static bool CheckReIssueText(std::string_view text);

private:
    uint8_t m_type;
    uint8_t m_first[kNumberSize];
    uint8_t m_second[kNumberSize];
};

class COBUNumber {
public:
    static constexpr size_t kDigits = 16;
    static constexpr size_t kPackedSize = 8;

    COBUNumber() = default;
    virtual ~COBUNumber();

    // Empties the queue and queues every item of exactly 16 characters, in the
    // order of the list. Returns 1.
    int Parse(std::string_view list);
    // Takes the first queued number and packs it into 8 bytes at `out`. Returns
    // 0, writing nothing, when the queue is empty; else 1.
    int GetNext(uint8_t* out);
    size_t Count() const { return m_numbers.size(); }

    // True when `list` is empty or a run of 16-digit numbers, each followed by a
    // comma, and nothing else.
    static bool CheckNumberList(std::string_view list);

private:
    std::deque<std::string> m_numbers;
};

}  // namespace card
