// The card commands through the reader link library itself: the agent's own
// binding of Tarnlink.dll's exports, the library's serial frames on Wine's COM5,
// and at the line's far end (a pseudo-terminal, run_windows_test.sh --serial) a
// simulated reader with the virtual issuing card in it. The agent's reader port
// 100 is put on COM5 for this.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "agent/card/tarni.h"
#include "agent/card/tarnlink_exports_win.h"
#include "agent/commands/obu_issue_ctrl.h"
#include "tests/readerlink/reader_line_end_win.h"
#include "tests/sim/sim_card_links.h"
#include "tests/sim/virtual_issuing_card.h"

using sim::Bytes;
using sim::BytesOf;
using sim::HexOf;

namespace {

constexpr int32_t kLinePort = 5;

// The library's exports as the agent binds them, with the agent's reader port
// on COM5 and the ports after it on COM ports with nothing behind them.
class ExportsOnTheLine : public card::CTarnlinkExports {
public:
    int32_t InitPort(int32_t port, int32_t baud) override
    {
        const int32_t opened = CTarnlinkExports::InitPort(Line(port), baud);
        return opened == Line(port) ? port : opened;
    }
    int32_t ClosePort(int32_t port) override { return CTarnlinkExports::ClosePort(Line(port)); }
    int32_t IcPowerOn(int32_t port, int32_t* outLength, uint8_t* atr) override
    {
        return CTarnlinkExports::IcPowerOn(Line(port), outLength, atr);
    }
    int32_t IcCase1(int32_t port, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out) override
    {
        return CTarnlinkExports::IcCase1(Line(port), length, data, outLength, out);
    }
    int32_t IcCase2(int32_t port, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out) override
    {
        return CTarnlinkExports::IcCase2(Line(port), length, data, outLength, out);
    }
    int32_t IcCase3(int32_t port, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out) override
    {
        return CTarnlinkExports::IcCase3(Line(port), length, data, outLength, out);
    }
    int32_t AbmTransparent(int32_t port, int32_t command, int32_t length, const uint8_t* data, int32_t* outLength,
                           uint8_t* out) override
    {
        return CTarnlinkExports::AbmTransparent(Line(port), command, length, data, outLength, out);
    }

private:
    static int32_t Line(int32_t port) { return port == card::CTarni::kReaderPort ? kLinePort : 40 + port % 10; }
};

class CardOverTheLine : public WithReaderLine {
protected:
    void SetUp() override
    {
        WithReaderLine::SetUp();
        // The reader hands the card every APDU of its contact and contactless
        // channels.
        line->With([this](sim::CardReaderSim& reader) {
            reader = sim::CardReaderSim();
            reader.card.behind = [this](uint8_t command, const Bytes& apdu) -> std::optional<Bytes> {
                const sim::VirtualIssuingCard::Reply reply = card.Answer(apdu);
                if (reply.silent) return std::nullopt;
                if (command == 0x61) return reply.bytes;
                return sim::ContactChannelReply(apdu, reply.bytes, command == 0xC2);
            };
        });
        ctrl.CardAccess().UseLinks(&exports, nullptr);
    }
    void TearDown() override { ctrl.SmartCardClose(); }

    CString Run(int id, const CString& param = "")
    {
        CString result = "not run";
        EXPECT_TRUE(ctrl.RunCommand(id, param, result)) << id;
        return result;
    }
    // The frames that reached the reader since the last call, in hexadecimal.
    std::vector<std::string> Frames()
    {
        std::vector<std::string> frames;
        line->With([&](sim::CardReaderSim& reader) {
            for (const auto& request : reader.requests) {
                frames.push_back(HexOf(request.wire));
                EXPECT_TRUE(request.checkOk) << frames.back();
            }
            reader.requests.clear();
        });
        return frames;
    }
    template <typename Work>
    void WithCard(Work work)
    {
        line->With([&](sim::CardReaderSim&) { work(card); });
    }

    sim::VirtualIssuingCard card;
    ExportsOnTheLine exports;
    COBUIssueCtrl ctrl;
};

const std::string kPowerOn = "02 00 02 C0 00 C2";
const std::string kSelectContact = "02 00 0D C3 00 A4 04 00 07 A0 00 00 02 45 00 01 8F";
const std::string kReadFileContact = "02 00 06 C2 00 B0 88 00 3C C0";
const char* const kIssueText = "01,00,50,16,6194,20050101,20070101,01,0,0,";
const char* const kIssueRecord = "01 00 50 16 61 94 20 05 01 01 20 07 01 01 01";

}  // namespace

TEST_F(CardOverTheLine, ContactCardCommandsGoInTheReaderFrames)
{
    WithCard([](sim::VirtualIssuingCard& c) { c.SetCardNumber(BytesOf("12 34 56 78 9A BC DE F0")); });
    EXPECT_EQ(Run(13), "1:123456789abcdef0");
    EXPECT_EQ(Frames(), (std::vector<std::string>{kPowerOn, kSelectContact, kReadFileContact}));

    EXPECT_EQ(Run(29, "01%2C00%2C50%2C16%2C6194%2C20050101%2C20070101%2C01%2C0%2C0%2C"), "1:1");
    const std::vector<std::string> frames = Frames();
    ASSERT_EQ(frames.size(), 3u);
    const Bytes issue = BytesOf(frames[2].c_str());
    ASSERT_EQ(issue.size(), 3u + 52u + 1u);
    EXPECT_EQ(HexOf(Bytes(issue.begin(), issue.begin() + 10)), "02 00 34 C3 90 1E 01 00 2E F8");
    Bytes record = BytesOf(kIssueRecord);
    record.resize(45, 0x00);
    WithCard([&](sim::VirtualIssuingCard& c) { EXPECT_EQ(HexOf(c.IssueRecord()), HexOf(record)); });

    EXPECT_EQ(Run(28, "6194000000000001,6194000000000002,"), "1:0");
    EXPECT_EQ(Run(14), "1:2");
    EXPECT_EQ(Frames().back(), "02 00 06 C2 00 CA 01 32 02 3F");

    // The initialisation writes the built-in record; the long block then reads
    // it back with the issue state and record behind it.
    EXPECT_EQ(Run(18), "1:1");
    EXPECT_EQ(Frames().size(), 2u + 10u) << "power-on, select and the ten commands";
    const std::string block = "2222222222222222" "1111111111111111" "f8" "010050166194200501012007010101" +
                              std::string(60, '0');
    const std::string longBlock = block + "01" + "010050166194200501012007010101" + std::string(60, '0') +
                                  std::string(34, '0');
    EXPECT_EQ(Run(21), "1:" + longBlock + "9000" + "00");
}

TEST_F(CardOverTheLine, ContactlessCardCommandsGoThroughCommand61)
{
    line->With([](sim::CardReaderSim& reader) {
        reader.card.contact = false;
        reader.card.contactless = true;
    });
    EXPECT_EQ(Run(13), "1:102030405060708f");
    EXPECT_EQ(Frames(), (std::vector<std::string>{kPowerOn, "02 00 05 4C 03 00 00 00 4A",
                                                  "02 00 0D 61 00 A4 04 00 07 A0 00 00 02 45 00 01 2D",
                                                  "02 00 06 61 00 B0 88 00 3C 63"}));
    EXPECT_EQ(Run(29, kIssueText), "1:1");
    EXPECT_EQ(Run(29, kIssueText), "1:3") << "an issued card refuses a second issue with 69 85";
}

TEST_F(CardOverTheLine, RefusalsSilenceAndLongRepliesOfTheCard)
{
    WithCard([](sim::VirtualIssuingCard& c) { c.AnswerSilence(0xB0, 1); });
    EXPECT_EQ(Run(13), "1:") << "the reader reports no card: no number";
    WithCard([](sim::VirtualIssuingCard& c) { c.AnswerStatus(0x18, 0x6985); });
    EXPECT_EQ(Run(18), "1:0") << "the card took neither write";
    WithCard([](sim::VirtualIssuingCard& c) { c.AnswerSilence(0x1C, 1); });
    EXPECT_EQ(Run(20), "1:2");

    // A block of 1100 bytes: the reader's frame holds 1104 data bytes, more
    // than 1024, and comes through whole.
    WithCard([](sim::VirtualIssuingCard& c) { c.AnswerData(0x1C, Bytes(1100, 0x5A), 1); });
    std::string text;
    for (int i = 0; i < 1099; ++i) text += "5a";
    EXPECT_EQ(Run(20), "1:" + text + "9000" + "00");
}
