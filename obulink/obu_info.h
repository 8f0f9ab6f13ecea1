// The OBU's information as the agent handles it: the page's command text of
// the three write commands (activation, information change, re-activation),
// the 60-byte information area the controller cuts it into, the 33-byte
// information record of the OBU protocol and the 69-character information
// text that the write commands and the information read answer.
//
// Command text (0-based character positions; single separator characters at
// 16, 33, 44, 53, 62, 64 and 67 are not read):
//
//   0-15 field 1 | 17-32 field 2 | 34-43 field 3 | 45-52 field 4 |
//   54-61 field 5 | 63 field 6 | 65-66 field 7 (hex) | 68-72 change flags
//
// Fields 1 to 6 are packed two characters a byte by their low four bits (a
// field of decimal digits becomes packed BCD; ':' packs as 10, a blank as 0),
// field 7 is two hexadecimal digits (each character counts as its code less 55
// from 'A' up, else less 48: upper-case hexadecimal digits give their value).
// Nothing a field holds is refused; only a text too short for its columns is,
// before anything reaches the OBU.
#pragma once

#include <cstddef>
#include <cstdint>

#include "framework/cstring.h"

// m_OBUInfo: the information fields in the order the record takes them.
struct ObuInfoArea {
    static constexpr size_t kSize = 60;
    // Positions inside the area.
    static constexpr size_t kField2 = 0;    // 16 characters
    static constexpr size_t kField1 = 16;   // 16 characters
    static constexpr size_t kField6 = 32;   // 1 character
    static constexpr size_t kField3 = 33;   // 10 characters
    static constexpr size_t kField7 = 43;   // one byte, converted from two hex digits
    static constexpr size_t kField4 = 44;   // 8 characters
    static constexpr size_t kField5 = 52;   // 8 characters

    uint8_t bytes[kSize] = {};
};

// Columns of the command text.
struct ObuCommandColumns {
    static constexpr size_t kField1 = 0, kField1Length = 16;
    static constexpr size_t kField2 = 17, kField2Length = 16;
    static constexpr size_t kField3 = 34, kField3Length = 10;
    static constexpr size_t kField4 = 45, kField4Length = 8;
    static constexpr size_t kField5 = 54, kField5Length = 8;
    static constexpr size_t kField6 = 63;
    static constexpr size_t kField7 = 65;  // two characters
    static constexpr size_t kFlags = 68;   // five characters
    static constexpr size_t kFlagCount = 5;

    static constexpr size_t kWriteTextLength = 67;   // activation, re-activation
    static constexpr size_t kChangeTextLength = 73;  // information change
};

// The flag byte an activation and a re-activation send (every field written).
inline constexpr uint8_t kAllFieldsFlags = 0xF8;

// Cuts a write command's text into `area` (cleared first) and, with
// `withFlags`, the five change flags into `flags` (0x80 for the first '1' ...
// 0x08 for the fifth; any character other than '1' leaves its bit clear).
// Returns false, leaving `area` and `flags` cleared, when the text is shorter
// than its columns.
bool CutObuCommandText(const CString& text, bool withFlags, ObuInfoArea& area, uint8_t& flags);

// The 33-byte information record of a write command: `kind` the command byte,
// `flags` its record byte 17. Fields are packed two characters a byte by their
// low four bits, the first in the high half.
inline constexpr size_t kObuRecordSize = 33;
void PackObuRecord(uint8_t kind, const ObuInfoArea& area, uint8_t flags, uint8_t record[kObuRecordSize]);

// The 69-character information text of an answer's data d (at least 33 bytes).
inline constexpr size_t kObuInfoTextLength = 69;
CString ObuInformationText(const uint8_t* d);

// A hexadecimal digit's value ('0'-'9', 'A'-'F', 'a'-'f'), or -1 for any
// other character.
int HexDigitOrMinusOne(char c);
