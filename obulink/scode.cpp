#include "obulink/scode.h"

#include <cstdio>
#include <cstring>

#include "obulink/aes.h"
#include "obulink/exchange_trace.h"

namespace {

// Upper-case hexadecimal digits only: the page writes the MFSN as the OBU
// gives it (16 upper-case digits).
int UpperHexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

bool CdoCreateScode::SetCommandText(const CString& text)
{
    std::memset(m_MfsnText, 0, sizeof m_MfsnText);
    std::memset(m_KeyText, 0, sizeof m_KeyText);
    std::memset(m_Block, 0, sizeof m_Block);
    m_bFilled = text.GetLength() >= kKeyTextOffset + kKeyTextLength;
    if (!m_bFilled) return false;
    std::memcpy(m_MfsnText, text.c_str(), kMfsnLength);
    std::memcpy(m_KeyText, text.c_str() + kKeyTextOffset, kKeyTextLength);
    return true;
}

CString CdoCreateScode::CreateScode()
{
    if (!m_bFilled) return kMfsnError;
    uint8_t mfsn[8];
    for (size_t i = 0; i < 8; ++i) {
        const int high = UpperHexValue(m_MfsnText[2 * i]);
        const int low = UpperHexValue(m_MfsnText[2 * i + 1]);
        if (high < 0 || low < 0) return kMfsnError;
        mfsn[i] = static_cast<uint8_t>(high * 16 + low);
    }
    static const uint8_t kZeroChain[16] = {};
    CAESClass aes;
    aes.MakeKey(m_KeyText, kZeroChain, 16, 16);
    std::memset(m_Block, 0, sizeof m_Block);
    std::memcpy(m_Block, mfsn, sizeof mfsn);
    std::memset(m_Cipher, 0, sizeof m_Cipher);
    aes.Encrypt(m_Block, m_Cipher, sizeof m_Block);

    char result[17] = {};
    for (size_t i = 0; i < 8; ++i) std::snprintf(result + 2 * i, 3, "%02X", m_Cipher[i]);
    ExchangeTrace().Data(result);
    return CString(result, 16);
}
