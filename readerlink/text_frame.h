// Frames of the text modem (protocol type 3): a line of ASCII characters, its
// check in hexadecimal ("%X": the XOR of the line's character pairs, each pair
// read as a two-digit hexadecimal number, an odd last character paired with a
// low digit 0) and ETX 03. A reply is text up to ETX; its pair 1 (characters 2
// and 3) says whether it acknowledges, pair 2 (characters 4 and 5) carries the
// station's status.
#pragma once

#include <cstdint>
#include <string>

#include "readerlink/dev_lib.h"

namespace tarnlink {

// "0" to "9", "A" to "F", "a" to "f" give their value; anything else 0.
int HexDigitOrZero(char character);
uint8_t TextCheck(const std::string& line);
// Line, check and ETX into `frame`: the frame length, or -1 when it does not fit.
int BuildTextFrame(const std::string& line, uint8_t* frame, int capacity);

// Takes a reply up to ETX into the reply buffer (ETX not stored). Outcome: pair
// 1 when it is not 1; else by status: 0 the text's length, 4 to 18 the station
// errors 5000 to 5011, another status 5013; 1033 for a text longer than the
// buffer.
class TextReplyReceiver : public IByteReceiver {
public:
    TextReplyReceiver(uint8_t* reply, int capacity) : m_reply(reply), m_capacity(capacity) {}
    int Feed(uint8_t byte) override;
    const std::string& text() const { return m_text; }

    // Pair `index` (0 the address) of a reply text read as hexadecimal.
    static int Pair(const std::string& text, size_t index);
    // The result for a station status of an acknowledgement.
    static int StatusResult(int status, int textLength);

private:
    uint8_t* m_reply;
    int m_capacity;
    std::string m_text;
};

}  // namespace tarnlink
