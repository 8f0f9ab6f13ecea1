// The records the issuing page's texts are written to the card as.
//
// The page sends comma lists: every item is followed by one comma, the last one
// too. Digits are packed two to a byte, the first in the high four bits.
//   CIssueData         the ten-field issue record, 45 bytes
//   CNoOBUReIssueData  two 16-digit numbers and the issue record, 63 bytes
//   COBUNumber         the queue of 16-digit OBU numbers written one by one
//
// Every text packs: any character by its low bits, an item of odd length or
// one without its comma as nothing (its field stays zero), missing items as
// zero. Only an item of even length longer than its field would be written on
// past it: parsing cuts such an item at its field, and the Check functions
// tell whether a text has one; the card commands refuse such a text and send
// nothing.
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

// False when packing `item` would write past a field of `width` bytes: an even
// length above 2 * width (an odd length packs nothing).
bool ItemStaysInField(std::string_view item, size_t width);

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

    // True when each of the first ten items, cut as the parse cuts them, stays
    // inside its field.
    static bool CheckIssueText(std::string_view text);

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

    // Two numbers of at most 16 digits, and then the ten issue items as
    // CheckIssueText.
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

private:
    std::deque<std::string> m_numbers;
};

}  // namespace card
