#include "agent/card/issue_records.h"

#include <cstring>

namespace card {

namespace {

struct FieldLayout {
    size_t offset;
    size_t width;
    Digits digits;
};

// The ten fields of the issue record, one after the other.
constexpr FieldLayout kIssueFields[CIssueData::kFieldCount] = {
    {0, 1, Digits::kDecimal},  {1, 1, Digits::kDecimal},  {2, 1, Digits::kDecimal},
    {3, 1, Digits::kDecimal},  {4, 2, Digits::kDecimal},  {6, 4, Digits::kDecimal},
    {10, 4, Digits::kDecimal}, {14, 1, Digits::kHexadecimal}, {15, 20, Digits::kDecimal},
    {35, 10, Digits::kDecimal},
};
static_assert(35 + 10 == CIssueData::kRecordSize);

int DecimalValue(char c)
{
    return static_cast<unsigned char>(c) - 0x30;
}

int HexValue(char c)
{
    const int code = static_cast<unsigned char>(c);
    return code <= 0x40 ? code - 0x30 : code - 0x37;
}

bool Pack(std::string_view item, uint8_t* field, size_t width, int (*value)(char))
{
    if (item.size() % 2 != 0)
        return false;
    for (size_t i = 0; i + 1 < item.size() && i / 2 < width; i += 2)
        field[i / 2] = static_cast<uint8_t>((value(item[i]) * 16 + value(item[i + 1])) & 0xFF);
    return true;
}

}  // namespace

bool PackDecimalDigits(std::string_view item, uint8_t* field, size_t width)
{
    return Pack(item, field, width, DecimalValue);
}

bool PackHexDigits(std::string_view item, uint8_t* field, size_t width)
{
    return Pack(item, field, width, HexValue);
}

bool ItemStaysInField(std::string_view item, size_t width)
{
    return item.size() % 2 != 0 || item.size() <= 2 * width;
}

std::string_view CutItem(std::string_view& rest, bool* complete)
{
    const size_t comma = rest.find(',');
    if (complete)
        *complete = comma != std::string_view::npos;
    if (comma == std::string_view::npos) {
        rest = {};
        return {};
    }
    std::string_view item = rest.substr(0, comma);
    rest.remove_prefix(comma + 1);
    return item;
}

// ---------------------------------------------------------------- CIssueData

CIssueData::CIssueData()
{
    std::memset(m_record, 0, sizeof m_record);
}

CIssueData::~CIssueData() = default;

int CIssueData::ParseIssueRecord(std::string_view text)
{
    std::memset(m_record, 0, sizeof m_record);
    for (const FieldLayout& f : kIssueFields) {
        std::string_view item = CutItem(text);
        if (f.digits == Digits::kHexadecimal)
            PackHexDigits(item, m_record + f.offset, f.width);
        else
            PackDecimalDigits(item, m_record + f.offset, f.width);
    }
    return 1;
}

int CIssueData::BuildIssueRecord45(uint8_t* out, int* outLength) const
{
    std::memcpy(out, m_record, kRecordSize);
    *outLength = static_cast<int>(kRecordSize);
    return 1;
}

bool CIssueData::CheckIssueText(std::string_view text)
{
    for (const FieldLayout& f : kIssueFields)
        if (!ItemStaysInField(CutItem(text), f.width))
            return false;
    return true;
}

// ---------------------------------------------------------- CNoOBUReIssueData

CNoOBUReIssueData::CNoOBUReIssueData() : m_type(kRecordType)
{
    std::memset(m_first, 0, sizeof m_first);
    std::memset(m_second, 0, sizeof m_second);
}

int CNoOBUReIssueData::Parse(std::string_view text)
{
    m_type = kRecordType;
    std::memset(m_first, 0, sizeof m_first);
    std::memset(m_second, 0, sizeof m_second);
    PackDecimalDigits(CutItem(text), m_first, kNumberSize);
    PackDecimalDigits(CutItem(text), m_second, kNumberSize);
    return ParseIssueRecord(text);
}

int CNoOBUReIssueData::Pack(uint8_t* out, int* outLength) const
{
    out[0] = m_type;
    std::memcpy(out + 1, m_first, kNumberSize);
    std::memcpy(out + 1 + kNumberSize, m_second, kNumberSize);
    out[1 + 2 * kNumberSize] = kIssueMark;
    std::memcpy(out + 2 + 2 * kNumberSize, m_record, CIssueData::kRecordSize);
    *outLength = static_cast<int>(kRecordSize);
    return 1;
}

bool CNoOBUReIssueData::CheckReIssueText(std::string_view text)
{
    for (int n = 0; n < 2; ++n)
        if (!ItemStaysInField(CutItem(text), kNumberSize))
            return false;
    return CheckIssueText(text);
}

static_assert(1 + 2 * CNoOBUReIssueData::kNumberSize + 1 + CIssueData::kRecordSize ==
              CNoOBUReIssueData::kRecordSize);

// ----------------------------------------------------------------- COBUNumber

COBUNumber::~COBUNumber() = default;

int COBUNumber::Parse(std::string_view list)
{
    m_numbers.clear();
    while (true) {
        bool complete = false;
        std::string_view item = CutItem(list, &complete);
        if (!complete)
            break;
        if (item.size() == kDigits)
            m_numbers.emplace_back(item);
        if (list.size() < kDigits + 1)  // no room left for another number and its comma
            break;
    }
    return 1;
}

int COBUNumber::GetNext(uint8_t* out)
{
    if (m_numbers.empty())
        return 0;
    PackDecimalDigits(m_numbers.front(), out, kPackedSize);
    m_numbers.pop_front();
    return 1;
}

}  // namespace card
