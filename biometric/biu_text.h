// Text conversions of the biometric unit's commands: the digit forms of the
// unit's answers, the packing of the page's digit texts into the unit's
// bytes, and the checks of the page's parameters.
//
// Digit forms (as the page reads them):
//   digit        a four-bit value plus '0' (10 to 15 give ':' to '?')
//   packed       one byte gives two digits, high four bits first
//   hexadecimal  one byte gives two characters '0'-'9' / 'A'-'F', high first
// Packing: two characters give one byte, the low four bits of the first in the
// high half and those of the second in the low half (digits give packed BCD,
// 'A' gives 1).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "framework/cstring.h"

namespace biu {

inline char Digit(uint8_t value)
{
    return static_cast<char>('0' + (value & 0x0F));
}

// Appends the two digits of each of `n` bytes.
void AppendPackedDigits(std::string& text, const uint8_t* bytes, size_t n);
// Appends the two upper-case hexadecimal characters of each of `n` bytes.
void AppendHexDigits(std::string& text, const uint8_t* bytes, size_t n);

// Packs `count` characters (an even number) into count / 2 bytes.
void PackDigitPairs(const char* chars, size_t count, uint8_t* out);

// The unit holds four users, numbered 1 to 4.
inline constexpr uint8_t kFirstUser = 1;
inline constexpr uint8_t kLastUser = 4;
inline bool IsUserNumber(int user)
{
    return user >= kFirstUser && user <= kLastUser;
}

}  // namespace biu
