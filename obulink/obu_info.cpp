#include "obulink/obu_info.h"

#include <cstring>

namespace {

// Copies `length` characters of `text` from `from` into `to`, as they are.
void CopyCharacters(const std::string& text, size_t from, size_t length, uint8_t* to)
{
    std::memcpy(to, text.data() + from, length);
}

// A field 7 character's value: its code less 55 from 'A' (0x41) to 0x7F, else
// less 48, so that '0'-'9' and 'A'-'F' give their hexadecimal value. A lower-case
// letter counts by the same rule (as the issuing card's hexadecimal fields do):
// as the high digit it gives the hexadecimal value, as the low one 32 more.
int Field7Value(char c)
{
    const int code = static_cast<unsigned char>(c);
    return code >= 0x41 && code <= 0x7F ? code - 55 : code - 48;
}

// Two characters packed into one byte by their low four bits.
uint8_t PackPair(uint8_t high, uint8_t low)
{
    return static_cast<uint8_t>(((high & 0x0F) << 4) | (low & 0x0F));
}

void PackField(const uint8_t* characters, size_t count, uint8_t* out)
{
    for (size_t i = 0; i + 1 < count; i += 2) out[i / 2] = PackPair(characters[i], characters[i + 1]);
}

const char kHexDigits[] = "0123456789ABCDEF";

// The text's "digit": '0' plus the four-bit value, ':' to '?' for 10 to 15.
char Digit(unsigned value)
{
    return static_cast<char>('0' + (value & 0x0F));
}

void AppendDigits(std::string& text, const uint8_t* d, size_t from, size_t count)
{
    for (size_t i = from; i < from + count; ++i) {
        text += Digit(d[i] >> 4);
        text += Digit(d[i]);
    }
}

void AppendHex(std::string& text, const uint8_t* d, size_t from, size_t count)
{
    for (size_t i = from; i < from + count; ++i) {
        text += kHexDigits[d[i] >> 4];
        text += kHexDigits[d[i] & 0x0F];
    }
}

}  // namespace

int HexDigitOrMinusOne(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool CutObuCommandText(const CString& command, bool withFlags, ObuInfoArea& area, uint8_t& flags)
{
    using C = ObuCommandColumns;
    using A = ObuInfoArea;
    area = ObuInfoArea();
    flags = 0;
    const std::string& text = command.str();
    // The only refusal: columns the text does not reach would be read past its end.
    if (text.size() < (withFlags ? C::kChangeTextLength : C::kWriteTextLength)) return false;

    CopyCharacters(text, C::kField1, C::kField1Length, area.bytes + A::kField1);
    CopyCharacters(text, C::kField2, C::kField2Length, area.bytes + A::kField2);
    CopyCharacters(text, C::kField3, C::kField3Length, area.bytes + A::kField3);
    CopyCharacters(text, C::kField4, C::kField4Length, area.bytes + A::kField4);
    CopyCharacters(text, C::kField5, C::kField5Length, area.bytes + A::kField5);
    CopyCharacters(text, C::kField6, 1, area.bytes + A::kField6);
    area.bytes[A::kField7] =
        static_cast<uint8_t>(Field7Value(text[C::kField7]) * 16 + Field7Value(text[C::kField7 + 1]));
    if (withFlags) {
        for (size_t i = 0; i < C::kFlagCount; ++i)
            if (text[C::kFlags + i] == '1') flags |= static_cast<uint8_t>(0x80 >> i);
    }
    return true;
}

void PackObuRecord(uint8_t kind, const ObuInfoArea& area, uint8_t flags, uint8_t record[kObuRecordSize])
{
    using A = ObuInfoArea;
    std::memset(record, 0, kObuRecordSize);
    record[0] = kind;
    PackField(area.bytes + A::kField1, 16, record + 1);
    PackField(area.bytes + A::kField2, 16, record + 9);
    record[17] = flags;
    record[18] = static_cast<uint8_t>(area.bytes[A::kField6] & 0x0F);
    PackField(area.bytes + A::kField3, 10, record + 19);
    PackField(area.bytes + A::kField4, 8, record + 24);
    PackField(area.bytes + A::kField5, 8, record + 28);
    record[32] = area.bytes[A::kField7];
}

CString ObuInformationText(const uint8_t* d)
{
    std::string text;
    text.reserve(kObuInfoTextLength);
    text += Digit(d[0]);
    text += '_';
    AppendHex(text, d, 1, 8);
    text += '_';
    AppendDigits(text, d, 9, 8);
    text += '_';
    AppendDigits(text, d, 19, 5);
    text += '_';
    AppendDigits(text, d, 24, 4);
    text += '_';
    AppendDigits(text, d, 28, 4);
    text += '_';
    text += Digit(d[18]);
    text += '_';
    AppendHex(text, d, 32, 1);
    return CString(std::move(text));
}
