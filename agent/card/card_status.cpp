#include "agent/card/card_status.h"

#include <cstring>

namespace card {

int DecodeStatus(uint8_t* reply, size_t& length)
{
    if (length >= 3 && reply[0] == 0x1C) {
        std::memmove(reply, reply + 1, length - 1);
        --length;
        reply[length] = 0;  // the byte the reply no longer covers reads as cleared
    }
    if (length == 0)
        return kStatusNoReply;
    if (length == 1)
        return kStatusOther;
    if (length == 2) {
        const uint16_t sw = static_cast<uint16_t>(reply[0] << 8 | reply[1]);
        switch (sw) {
        case 0x9000: return kStatusDone;
        case 0x6E00: return kStatus6E00;
        case 0x6985: return kStatus6985;
        default: return kStatusOther;
        }
    }
    return kStatusData;
}

}  // namespace card
