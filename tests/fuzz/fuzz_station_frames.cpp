// Replies of the node-addressed, bus, text-modem and framed-modem stations on a
// serial line, byte by byte through their receivers, and the frame builders fed
// with request data of any length.
//
// Input: a selector byte, a capacity word (text and framed modem), then the
// bytes of the line.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "readerlink/modem_frame.h"
#include "readerlink/node_frame.h"
#include "readerlink/text_frame.h"

using namespace tarnlink;

namespace {

constexpr int kReplyBuffer = 2048;  // a port record's reply buffer

void Require(bool condition)
{
    if (!condition) std::abort();
}

// Feeds until the receiver has an outcome; returns it (kIncomplete when the
// line ran dry first).
int FeedAll(IByteReceiver& receiver, const uint8_t* bytes, size_t n)
{
    for (size_t i = 0; i < n; ++i) {
        int outcome = receiver.Feed(bytes[i]);
        if (outcome != IByteReceiver::kIncomplete) return outcome;
    }
    return IByteReceiver::kIncomplete;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 3) return 0;
    const uint8_t selector = data[0];
    const int capacity = 1 + ((data[1] << 8 | data[2]) % kReplyBuffer);
    const uint8_t* line = data + 3;
    const size_t n = size - 3;
    const uint8_t node = static_cast<uint8_t>(selector >> 3);

    switch (selector % 5) {
    case 0: {
        std::vector<uint8_t> reply(kReplyBuffer);
        NodeReplyReceiver receiver(reply.data(), node);
        int outcome = FeedAll(receiver, line, n);
        Require(outcome == IByteReceiver::kIncomplete || (outcome >= 0 && outcome <= 254) || outcome >= 1025);
        break;
    }
    case 1: {
        std::vector<uint8_t> reply(kReplyBuffer);
        BusReplyReceiver receiver(reply.data(), node);
        int outcome = FeedAll(receiver, line, n);
        Require(receiver.FrameLength() >= 0 && receiver.FrameLength() <= kReplyBuffer);
        (void)outcome;
        break;
    }
    case 2: {
        std::vector<uint8_t> reply(static_cast<size_t>(capacity));
        TextReplyReceiver receiver(reply.data(), capacity);
        int outcome = FeedAll(receiver, line, n);
        // The text's length, a pair that is not 1 (0 to 255), or an error.
        Require(outcome == IByteReceiver::kIncomplete || (outcome >= 0 && outcome <= capacity) ||
                (outcome >= 0 && outcome <= 255) || outcome >= 1025);
        break;
    }
    case 3: {
        std::vector<uint8_t> reply(static_cast<size_t>(capacity));
        // Station identifiers are ten characters.
        static const uint8_t kId1[] = "0001STATN1";
        static const uint8_t kAny[] = "          ";
        ModemReplyReceiver receiver(reply.data(), capacity, kId1, (selector & 8) ? kAny : kId1);
        int outcome = FeedAll(receiver, line, n);
        Require(outcome == IByteReceiver::kIncomplete || outcome <= capacity || outcome >= 1025);
        break;
    }
    default: {
        // Builders: a frame fits its buffer or is refused; a node frame read
        // back by the receiver gives its data count again.
        const int frameCapacity = capacity + 8;
        std::vector<uint8_t> frame(static_cast<size_t>(frameCapacity));
        int count = static_cast<int>(n);
        int length = BuildNodeFrame(node, line, count, frame.data(), frameCapacity);
        Require(length == -1 || (length > count && length <= frameCapacity));
        if (length > 0) {
            std::vector<uint8_t> reply(kReplyBuffer);
            NodeReplyReceiver receiver(reply.data(), node);
            Require(FeedAll(receiver, frame.data(), static_cast<size_t>(length)) == count);
        }
        length = BuildBusFrame(node, line, count, frame.data(), frameCapacity);
        Require(length == -1 || (length > count && length <= frameCapacity));
        length = BuildModemFrame(line, count, frame.data(), frameCapacity);
        Require(length == -1 || (length >= count && length <= frameCapacity));
        Crc16(line, count);
        std::string text(reinterpret_cast<const char*>(line), n);
        length = BuildTextFrame(text, frame.data(), frameCapacity);
        Require(length == -1 || length <= frameCapacity);
        TextCheck(text);
        break;
    }
    }
    return 0;
}
