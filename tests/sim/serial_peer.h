// The far end of a simulated serial line: a device that takes the bytes the
// library writes and answers with the bytes it sends back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

using Bytes = std::vector<uint8_t>;

class SerialPeer {
public:
    virtual ~SerialPeer() = default;
    // Bytes that came down the line; the bytes sent back.
    virtual Bytes FromSerialLine(const uint8_t* bytes, size_t n) = 0;
};

}  // namespace sim
