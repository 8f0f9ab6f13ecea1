// The frames of the node, bus, text-modem and framed-modem protocols and their
// receivers, byte by byte: what the library writes, and every way a reply can
// end.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "readerlink/comm_obj.h"
#include "readerlink/error_codes.h"
#include "readerlink/modem_frame.h"
#include "readerlink/node_frame.h"
#include "readerlink/text_frame.h"

using Bytes = std::vector<uint8_t>;
using tarnlink::IByteReceiver;

namespace {

// Feeds bytes until the receiver decides: the outcome and how many it took.
std::pair<int, size_t> Feed(IByteReceiver& receiver, const Bytes& bytes)
{
    for (size_t i = 0; i < bytes.size(); ++i) {
        const int result = receiver.Feed(bytes[i]);
        if (result != IByteReceiver::kIncomplete) return {result, i + 1};
    }
    return {IByteReceiver::kIncomplete, bytes.size()};
}

Bytes Text(const std::string& text) { return Bytes(text.begin(), text.end()); }

}  // namespace

TEST(NodeFrames, RequestFramesOfTheThreeNodeProtocols)
{
    uint8_t frame[16];
    const uint8_t request[] = {0x21};
    ASSERT_EQ(tarnlink::BuildNodeFrame(5, request, 1, frame, sizeof frame), 5);
    EXPECT_EQ(Bytes(frame, frame + 5), (Bytes{0x02, 0x05, 0x02, 0x21, 0x23}));
    // The bus check covers LEN and NODE but not the last data byte.
    ASSERT_EQ(tarnlink::BuildBusFrame(5, request, 1, frame, sizeof frame), 6);
    EXPECT_EQ(Bytes(frame, frame + 6), (Bytes{0x02, 0x02, 0x05, 0x21, 0x07, 0x03}));

    // LEN must fit a byte: 254 data bytes at most.
    std::vector<uint8_t> big(300, 0x11), out(400);
    EXPECT_EQ(tarnlink::BuildNodeFrame(5, big.data(), 254, out.data(), 400), 258);
    EXPECT_EQ(out[2], 0xFF);
    EXPECT_EQ(tarnlink::BuildNodeFrame(5, big.data(), 255, out.data(), 400), -1);
    EXPECT_EQ(tarnlink::BuildBusFrame(5, big.data(), 255, out.data(), 400), -1);
}

TEST(NodeFrames, NodeReceiverOutcomes)
{
    uint8_t reply[tarnlink::kBufferSize] = {};
    struct Case {
        Bytes bytes;
        int result;
        size_t taken;
    } cases[] = {
        {{0x02, 0x05, 0x03, 0x00, 0x21, 0x22}, 2, 6},
        {{0x02, 0x05, 0x01, 0x01}, 0, 4},                      // a LEN of 1: the status byte is missing
        {{0x7F, 0x02, 0x05}, tarnlink::kErrNoStx, 1},          // noise is not skipped
        {{0x02, 0x06, 0x02}, tarnlink::kErrNodeDiffers, 2},    // decided at the node byte
        {{0x02, 0x05, 0x00}, tarnlink::kErrNoStatus, 3},
        {{0x02, 0x05, 0x02, 0x00, 0x00}, tarnlink::kErrCheck, 5},
    };
    for (const Case& c : cases) {
        tarnlink::NodeReplyReceiver receiver(reply, 5);
        const auto [result, taken] = Feed(receiver, c.bytes);
        EXPECT_EQ(result, c.result);
        EXPECT_EQ(taken, c.taken);
    }
}

TEST(NodeFrames, BusReceiverKeepsTheWholeFrameForTheEcho)
{
    uint8_t reply[tarnlink::kBufferSize] = {};
    const Bytes good = {0x02, 0x03, 0x00, 0x31, 0x32, 0x32, 0x03};  // check 03 ^ 00 ^ 31
    tarnlink::BusReplyReceiver receiver(reply, 0);
    EXPECT_EQ(Feed(receiver, good).first, 2);
    EXPECT_EQ(receiver.FrameLength(), 7);
    EXPECT_EQ(Bytes(reply, reply + 7), good);

    struct Case {
        Bytes bytes;
        int result;
    } cases[] = {
        {{0x02, 0x03, 0x00, 0x31, 0x32, 0x32, 0x04}, tarnlink::kErrListenNoEtx},
        {{0x02, 0x03, 0x00, 0x31, 0x32, 0x02, 0x03}, tarnlink::kErrCheck},  // the last data byte counted in
        {{0x02, 0x03, 0x07}, tarnlink::kErrNodeDiffers},
        {{0x02, 0x00}, tarnlink::kErrNoStatus},
        {{0x03}, tarnlink::kErrNoStx},
    };
    for (const Case& c : cases) {
        tarnlink::BusReplyReceiver bad(reply, 0);
        EXPECT_EQ(Feed(bad, c.bytes).first, c.result);
    }
}

TEST(TextFrames, CheckAndFrame)
{
    EXPECT_EQ(tarnlink::HexDigitOrZero('7'), 7);
    EXPECT_EQ(tarnlink::HexDigitOrZero('b'), 11);
    EXPECT_EQ(tarnlink::HexDigitOrZero('F'), 15);
    EXPECT_EQ(tarnlink::HexDigitOrZero('G'), 0);
    // 60 ^ 01 ^ DB = BA.
    uint8_t frame[32];
    const int n = tarnlink::BuildTextFrame("6001DB", frame, sizeof frame);
    EXPECT_EQ(Bytes(frame, frame + n), Text("6001DBBA\x03"));
    // A check below 16 is one character; an odd last character pairs with 0.
    EXPECT_EQ(tarnlink::TextCheck("6065"), 0x05);
    EXPECT_EQ(tarnlink::BuildTextFrame("6065", frame, sizeof frame), 6);
    EXPECT_EQ(tarnlink::TextCheck("607"), 0x60 ^ 0x70);
    EXPECT_EQ(tarnlink::BuildTextFrame("", frame, sizeof frame), 2);
    EXPECT_EQ(Bytes(frame, frame + 2), Text("0\x03"));
    EXPECT_EQ(tarnlink::BuildTextFrame(std::string(40, '1'), frame, sizeof frame), -1);
}

TEST(TextFrames, ReplyOutcomes)
{
    uint8_t reply[64] = {};
    struct Case {
        const char* text;
        int result;
    } cases[] = {
        {"600100\x03", 6},       {"60010004\x03", 8},      {"600104\x03", 5000}, {"600105\x03", 5001},
        {"600106\x03", 5011},    {"600109\x03", 5002},     {"60010A\x03", 5003}, {"60010F\x03", 5008},
        {"600111\x03", 5009},    {"600112\x03", 5010},     {"600110\x03", tarnlink::kErrTextUnknownStatus},
        {"6007\x03", 7},         {"60\x03", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        tarnlink::TextReplyReceiver receiver(reply, sizeof reply);
        EXPECT_EQ(Feed(receiver, Text(c.text)).first, c.result);
    }
    // A text longer than the buffer ends there.
    tarnlink::TextReplyReceiver receiver(reply, sizeof reply);
    EXPECT_EQ(Feed(receiver, Bytes(100, 'A')).first, tarnlink::kErrReplyTooLong);
}

TEST(ModemFrames, CrcCheckValueAndFrame)
{
    const Bytes digits = Text("123456789");
    EXPECT_EQ(tarnlink::Crc16(digits.data(), 9), 0xBB3D);
    EXPECT_EQ(tarnlink::Crc16(digits.data(), 0), 0x0000);

    // STX, the request, ETX, then the CRC over STX and the request, high byte first.
    uint8_t frame[32];
    const uint8_t request[] = {'A'};
    ASSERT_EQ(tarnlink::BuildModemFrame(request, 1, frame, sizeof frame), 5);
    const uint8_t covered[] = {0x02, 'A'};
    const uint16_t crc = tarnlink::Crc16(covered, 2);
    EXPECT_EQ(Bytes(frame, frame + 5), (Bytes{0x02, 'A', 0x03, static_cast<uint8_t>(crc >> 8),
                                             static_cast<uint8_t>(crc & 0xFF)}));
    EXPECT_EQ(tarnlink::BuildModemFrame(request, 29, frame, sizeof frame), -1);
}

namespace {

// A reply frame written out by hand: STX, ID1, ID2, four digits, data, ETX, CRC.
Bytes ModemReply(const std::string& id1, const std::string& id2, const std::string& digits, const std::string& data)
{
    Bytes frame = {0x02};
    for (const std::string* part : {&id1, &id2, &digits, &data}) frame.insert(frame.end(), part->begin(), part->end());
    const uint16_t crc = tarnlink::Crc16(frame.data(), static_cast<int>(frame.size()));
    frame.push_back(0x03);
    frame.push_back(static_cast<uint8_t>(crc >> 8));
    frame.push_back(static_cast<uint8_t>(crc & 0xFF));
    return frame;
}

}  // namespace

TEST(ModemFrames, ReplyOutcomes)
{
    std::vector<uint8_t> reply(tarnlink::kBufferSize);
    const uint8_t id1[] = "STATION01 ";
    const uint8_t id2[] = "JOB-000042";
    auto receiveWith = [&](const Bytes& bytes, const uint8_t* second) {
        tarnlink::ModemReplyReceiver receiver(reply.data(), tarnlink::kBufferSize, id1, second);
        return Feed(receiver, bytes);
    };
    auto receive = [&](const Bytes& bytes) { return receiveWith(bytes, id2); };
    const Bytes good = ModemReply("STATION01 ", "JOB-000042", "0003", "abc");
    EXPECT_EQ(receive(good), std::make_pair(27, good.size()));
    // Noise ahead of the STX is skipped.
    Bytes noisy = {0x7F, 0x00, 0x05};
    noisy.insert(noisy.end(), good.begin(), good.end());
    EXPECT_EQ(receive(noisy).first, 27);
    // LEN 0000: 28 bytes, result 24.
    EXPECT_EQ(receive(ModemReply("STATION01 ", "JOB-000042", "0000", "")), std::make_pair(24, size_t{28}));
    // Only the first four bytes of ID1 count; ID2 whole, unless ours starts with a space.
    EXPECT_EQ(receive(ModemReply("STATxxxxxx", "JOB-000042", "0000", "")).first, 24);
    EXPECT_EQ(receive(ModemReply("STAXION01 ", "JOB-000042", "0000", "")), std::make_pair(tarnlink::kErrModemId1, size_t{11}));
    EXPECT_EQ(receive(ModemReply("STATION01 ", "JOB-000043", "0000", "")).first, tarnlink::kErrModemId2);
    const uint8_t anySecond[] = "          ";
    EXPECT_EQ(receiveWith(ModemReply("STATION01 ", "JOB-000043", "0000", ""), anySecond).first, 24);

    Bytes noEtx = good;
    noEtx[28] = 0x04;
    EXPECT_EQ(receive(noEtx).first, tarnlink::kErrModemNoEtx);
    Bytes wrongCrc = good;
    wrongCrc[30] ^= 0x01;  // the CRC low byte
    EXPECT_EQ(receive(wrongCrc).first, tarnlink::kErrCheck);
    // Length characters are weighed as they come, digits or not: "000:" is ten.
    const Bytes colon = ModemReply("STATION01 ", "JOB-000042", "000:", "0123456789");
    EXPECT_EQ(receive(colon), std::make_pair(34, colon.size()));
    EXPECT_EQ(Bytes(reply.begin() + 25, reply.begin() + 35), Bytes(colon.begin() + 25, colon.begin() + 35));
    EXPECT_EQ(receive(ModemReply("STATION01 ", "JOB-000042", "00/:", "")), std::make_pair(24, size_t{28}));
    // Only a length below zero, which no position would ever reach, is refused.
    EXPECT_EQ(receive(ModemReply("STATION01 ", "JOB-000042", "000/", "abc")), std::make_pair(tarnlink::kErrBadLength, size_t{25}));
    EXPECT_EQ(receive(ModemReply("STATION01 ", "JOB-000042", "/999", "abc")).first, tarnlink::kErrBadLength);
    EXPECT_EQ(receive(ModemReply("STATION01 ", "JOB-000042", "~~~~", "abc")).first, tarnlink::kErrReplyTooLong);
    // A length the buffer cannot hold ends at its last digit, before any data is stored.
    EXPECT_EQ(receive(ModemReply("STATION01 ", "JOB-000042", "2021", "")), std::make_pair(tarnlink::kErrReplyTooLong, size_t{25}));

    // A buffer shorter than the frame's head: refused at its end, nothing written past it.
    std::vector<uint8_t> small(10);
    tarnlink::ModemReplyReceiver shortReceiver(small.data(), static_cast<int>(small.size()), id1, id2);
    EXPECT_EQ(Feed(shortReceiver, good), std::make_pair(tarnlink::kErrReplyTooLong, size_t{11}));
}
