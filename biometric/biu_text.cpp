#include "biometric/biu_text.h"

namespace biu {

void AppendPackedDigits(std::string& text, const uint8_t* bytes, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        text += Digit(static_cast<uint8_t>(bytes[i] >> 4));
        text += Digit(bytes[i]);
    }
}

void AppendHexDigits(std::string& text, const uint8_t* bytes, size_t n)
{
    static const char kHex[] = "0123456789ABCDEF";
    for (size_t i = 0; i < n; ++i) {
        text += kHex[bytes[i] >> 4];
        text += kHex[bytes[i] & 0x0F];
    }
}

void PackDigitPairs(const char* chars, size_t count, uint8_t* out)
{
    for (size_t i = 0; i + 1 < count; i += 2)
        out[i / 2] = static_cast<uint8_t>(((chars[i] & 0x0F) << 4) | (chars[i + 1] & 0x0F));
}

}  // namespace biu
