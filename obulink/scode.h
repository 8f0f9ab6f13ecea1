// CdoCreateScode: the S-code of an OBU, computed here without the device.
//
// The page's text: positions 0-15 the MFSN as 16 upper-case hexadecimal
// digits, position 16 a separator (not read), positions 17-32 the key text,
// whose 16 character codes are an AES-128 key. The S-code is the first 8
// bytes of AES-128 of (the 8 MFSN bytes, then 8 zero bytes) under that key,
// as 16 upper-case hexadecimal digits. A MFSN that is not 16 upper-case
// hexadecimal digits, and a text too short for both columns, answer
// "MFSN Error" and nothing is computed.
#pragma once

#include <cstdint>

#include "framework/cstring.h"

class CdoCreateScode {
public:
    static constexpr const char* kMfsnError = "MFSN Error";
    static constexpr size_t kMfsnLength = 16;
    static constexpr size_t kKeyTextOffset = 17;
    static constexpr size_t kKeyTextLength = 16;

    // Takes the columns of the page's text; false when it is too short.
    bool SetCommandText(const CString& text);

    CString CreateScode();

private:
    uint8_t m_KeyText[16] = {};
    uint8_t m_Block[16] = {};
    uint8_t m_Cipher[128] = {};
    char m_MfsnText[32] = {};
    bool m_bFilled = false;
};
