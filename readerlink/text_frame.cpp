#include "readerlink/text_frame.h"

#include <cstdio>
#include <cstring>

#include "readerlink/error_codes.h"
#include "readerlink/node_frame.h"

namespace tarnlink {

int HexDigitOrZero(char character)
{
    if (character >= '0' && character <= '9') return character - '0';
    if (character >= 'A' && character <= 'F') return character - 'A' + 10;
    if (character >= 'a' && character <= 'f') return character - 'a' + 10;
    return 0;
}

uint8_t TextCheck(const std::string& line)
{
    uint8_t check = 0;
    for (size_t i = 0; i < line.size(); i += 2) {
        const int low = i + 1 < line.size() ? HexDigitOrZero(line[i + 1]) : 0;
        check ^= static_cast<uint8_t>(HexDigitOrZero(line[i]) * 16 + low);
    }
    return check;
}

int BuildTextFrame(const std::string& line, uint8_t* frame, int capacity)
{
    char check[4];
    std::snprintf(check, sizeof check, "%X", TextCheck(line));
    const size_t length = line.size() + std::strlen(check) + 1;
    if (length > static_cast<size_t>(capacity)) return -1;
    std::memcpy(frame, line.data(), line.size());
    std::memcpy(frame + line.size(), check, std::strlen(check));
    frame[length - 1] = kEtx;
    return static_cast<int>(length);
}

int TextReplyReceiver::Pair(const std::string& text, size_t index)
{
    const size_t at = index * 2;
    const char high = at < text.size() ? text[at] : '0';
    const char low = at + 1 < text.size() ? text[at + 1] : '0';
    return HexDigitOrZero(high) * 16 + HexDigitOrZero(low);
}

int TextReplyReceiver::StatusResult(int status, int textLength)
{
    switch (status) {
    case 0: return textLength;
    case 4: return kTextStatusBase + 0;
    case 5: return kTextStatusBase + 1;
    case 6: return kTextStatusBase + 11;
    case 9: return kTextStatusBase + 2;
    case 10: return kTextStatusBase + 3;
    case 11: return kTextStatusBase + 4;
    case 12: return kTextStatusBase + 5;
    case 13: return kTextStatusBase + 6;
    case 14: return kTextStatusBase + 7;
    case 15: return kTextStatusBase + 8;
    case 17: return kTextStatusBase + 9;
    case 18: return kTextStatusBase + 10;
    default: return kErrTextUnknownStatus;
    }
}

int TextReplyReceiver::Feed(uint8_t byte)
{
    if (byte != kEtx) {
        if (static_cast<int>(m_text.size()) >= m_capacity) return kErrReplyTooLong;
        m_reply[m_text.size()] = byte;
        m_text.push_back(static_cast<char>(byte));
        return kIncomplete;
    }
    const int acknowledge = Pair(m_text, 1);
    if (acknowledge != 1) return acknowledge;
    return StatusResult(Pair(m_text, 2), static_cast<int>(m_text.size()));
}

}  // namespace tarnlink
