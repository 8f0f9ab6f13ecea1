// Card status codes: every reply of the issuing card is reduced to one small
// code before a command words it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace card {

enum CardStatus : int {
    kStatusOther = 0,      // a status word not listed below, or a one-byte reply
    kStatus6E00 = 1,       // 6E 00: class not supported
    kStatusNoReply = 2,    // no reply from the reader, or no link open
    kStatus6985 = 3,       // 69 85: conditions of use not satisfied
    kStatusDone = 10,      // 90 00 alone
    kStatusData = 11,      // data followed by the status word
};

// Some readers put the instruction byte 1C (the procedure byte of the block read)
// in front of the card's answer. DecodeStatus drops it first: the reply is moved
// one byte towards the start and `length` shrinks by one; the status word of what
// remains is then decoded like any other reply.
//   length 0: kStatusNoReply; length 1: kStatusOther;
//   length 2: 90 00, 6E 00, 69 85 by the table, any other pair kStatusOther;
//   length 3 or more: kStatusData.
int DecodeStatus(uint8_t* reply, size_t& length);

}  // namespace card
