// The reader's frames, the block check, the tick arithmetic and the serial
// reply receiver.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "readerlink/comm_obj.h"
#include "readerlink/dev_lib.h"
#include "readerlink/error_codes.h"
#include "readerlink/reader_frame.h"

using Bytes = std::vector<uint8_t>;
using tarnlink::CDevLib;
using tarnlink::SerialReplyReceiver;

namespace {

Bytes SerialFrame(const Bytes& request, const uint8_t* tail = nullptr)
{
    Bytes frame(tarnlink::kBufferSize);
    const int n = tarnlink::BuildSerialFrame(request.data(), static_cast<int>(request.size()), tail, frame.data(),
                                             static_cast<int>(frame.size()));
    EXPECT_GT(n, 0);
    frame.resize(n > 0 ? static_cast<size_t>(n) : 0);
    return frame;
}

// Feeds bytes until the receiver decides; the outcome and how many were taken.
std::pair<int, size_t> Receive(SerialReplyReceiver& receiver, const Bytes& bytes)
{
    for (size_t i = 0; i < bytes.size(); ++i) {
        const int result = receiver.Feed(bytes[i]);
        if (result != SerialReplyReceiver::kIncomplete) return {result, i + 1};
    }
    return {SerialReplyReceiver::kIncomplete, bytes.size()};
}

}  // namespace

TEST(ReaderFrame, SerialFrameCarriesLengthAndBlockCheck)
{
    EXPECT_EQ(SerialFrame({0xC0, 0x00}), (Bytes{0x02, 0x00, 0x02, 0xC0, 0x00, 0xC2}));
    EXPECT_EQ(SerialFrame({}), (Bytes{0x02, 0x00, 0x00, 0x00}));

    const Bytes frame = SerialFrame(Bytes(300, 0x11));
    ASSERT_EQ(frame.size(), 304u);
    EXPECT_EQ(frame[1], 0x01);
    EXPECT_EQ(frame[2], 0x2C);
    EXPECT_EQ(frame[303], 0x01 ^ 0x2C);  // 300 equal bytes cancel out
}

TEST(ReaderFrame, FramesThatDoNotFitAreRefused)
{
    Bytes request(2045, 0x00);
    Bytes frame(tarnlink::kBufferSize);
    EXPECT_EQ(tarnlink::BuildSerialFrame(request.data(), 2045, nullptr, frame.data(), 2048), -1);
    EXPECT_EQ(tarnlink::BuildSerialFrame(request.data(), 2044, nullptr, frame.data(), 2048), 2048);
    EXPECT_EQ(tarnlink::BuildUsbFrame(request.data(), 2047, frame.data(), 2048), -1);
}

TEST(BlockCheck, IsTheXorOfTheBytes)
{
    const uint8_t bytes[] = {0x00, 0x02, 0xC0, 0x00};
    EXPECT_EQ(CDevLib::CalcBcc(bytes, 4), 0xC2);
    EXPECT_EQ(CDevLib::CalcBcc(bytes, 0), 0x00);
}

TEST(TickDiff, CountsAcrossTheWrapLessOne)
{
    EXPECT_EQ(CDevLib::TickDiff(1000, 1000), 0u);
    EXPECT_EQ(CDevLib::TickDiff(1500, 1000), 500u);
    EXPECT_EQ(CDevLib::TickDiff(5, 0xFFFFFFFEu), 6u);  // 7 ms passed, wrap counts one less
}

class ReplyReceiver : public ::testing::Test {
protected:
    // Exactly one reply buffer on the heap, so that AddressSanitizer sees any
    // byte stored beyond it.
    std::unique_ptr<uint8_t[]> reply{new uint8_t[tarnlink::kBufferSize]()};
    SerialReplyReceiver receiver{reply.get(), tarnlink::kBufferSize};
};

TEST_F(ReplyReceiver, StoresTheFrameAtTheSameIndexAndChecksIt)
{
    auto [result, taken] = Receive(receiver, {0x02, 0x00, 0x03, 0x00, 0x90, 0x00, 0x93});
    EXPECT_EQ(result, tarnlink::kReplyTaken);
    EXPECT_EQ(receiver.DataLength(), 3);
    EXPECT_EQ(taken, 7u);
    EXPECT_EQ(Bytes(reply.get(), reply.get() + 6), (Bytes{0x02, 0x00, 0x03, 0x00, 0x90, 0x00}));
}

TEST_F(ReplyReceiver, LengthZeroEndsAtTheCheckOverTheLengthBytes)
{
    EXPECT_EQ(Receive(receiver, {0x02, 0x00, 0x00, 0x00}), std::make_pair(tarnlink::kReplyTaken, size_t{4}));
    EXPECT_EQ(receiver.DataLength(), 0);
}

TEST_F(ReplyReceiver, FirstByteMustBeStx)
{
    EXPECT_EQ(Receive(receiver, {0xFF, 0x02, 0x00, 0x00, 0x00}), std::make_pair(tarnlink::kErrNoStx, size_t{1}));
}

TEST_F(ReplyReceiver, WrongCheckIsReported)
{
    EXPECT_EQ(Receive(receiver, {0x02, 0x00, 0x01, 0x00, 0x00}).first, tarnlink::kErrCheck);
}

TEST_F(ReplyReceiver, LengthBeyondTheBufferEndsTheFrameBeforeAnyDataIsStored)
{
    // LEN 2045 would put data byte 2044 at index 2047 and its check beyond the buffer.
    Bytes frame = {0x02, 0x07, 0xFD};
    frame.resize(3 + 2045 + 1, 0x00);
    EXPECT_EQ(Receive(receiver, frame), std::make_pair(tarnlink::kErrReplyTooLong, size_t{3}));

    SerialReplyReceiver big(reply.get(), tarnlink::kBufferSize);
    EXPECT_EQ(Receive(big, {0x02, 0xFF, 0xFF}).first, tarnlink::kErrReplyTooLong);
}

TEST_F(ReplyReceiver, LargestReplyFillsTheBuffer)
{
    Bytes frame = {0x02, 0x07, 0xFC};  // LEN 2044
    frame.resize(3 + 2044, 0x00);
    frame[3 + 2043] = 0x42;
    frame.push_back(0x07 ^ 0xFC ^ 0x42);
    // Its length is kept apart from the outcome: 2044 is no error number.
    EXPECT_EQ(Receive(receiver, frame), std::make_pair(tarnlink::kReplyTaken, frame.size()));
    EXPECT_EQ(receiver.DataLength(), 2044);
    EXPECT_EQ(reply[2046], 0x42);
}
