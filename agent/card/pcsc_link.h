// The agent's face of its PC/SC link: connect to the card in the first reader,
// exchange one command, and close. CCardReader (card_reader_win.h) is the link
// over the platform's smart-card service; tests put a virtual card here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace card {

class IPcscLink {
public:
    virtual ~IPcscLink() = default;

    // Connects to the card in the first reader. True when a card is connected;
    // a failed attempt leaves nothing open.
    virtual bool Connect() = 0;
    // Sends `request` and receives the card's reply into `reply` (room for
    // `capacity` bytes). False when the service gave no answer.
    virtual bool Transmit(const uint8_t* request, size_t requestLength, uint8_t* reply, size_t capacity,
                          size_t& replyLength) = 0;
    // Disconnects with the card ejected and releases the service context.
    virtual void Close() = 0;
};

}  // namespace card
