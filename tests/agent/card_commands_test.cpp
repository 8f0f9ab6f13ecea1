// The card commands (ids 11 to 29, 50 to 52) run whole through the controller,
// with the virtual issuing card behind the reader link library (a contact or a
// contactless card in a USB reader) or behind the PC/SC link. In the Windows
// builds the PC/SC link is the agent's CCardReader bound to a virtual service.
#include <gtest/gtest.h>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "agent/commands/obu_issue_ctrl.h"
#include "framework/clock.h"
#include "tests/agent/fixed_time.h"
#include "tests/agent/window_thread.h"
#include "tests/sim/sim_card_links.h"
#include "tests/sim/test_pcsc_link.h"
#include "tests/sim/virtual_issuing_card.h"

using sim::Bytes;
using sim::BytesOf;
using sim::CardPresence;
using sim::HexOf;

namespace {

enum class Link { kContactReader, kContactlessReader, kPcsc, kReaderWithoutCard, kNothing };

const char* LinkName(Link link)
{
    switch (link) {
    case Link::kContactReader: return "contact card in the USB reader";
    case Link::kContactlessReader: return "contactless card on the USB reader";
    case Link::kPcsc: return "PC/SC";
    case Link::kReaderWithoutCard: return "USB reader without a card";
    default: return "no reader";
    }
}

// The virtual card, its links and a controller using them. The controller goes
// first at the end, closing the link as at exit.
struct Bench {
    explicit Bench(Link link)
    {
        const bool reader = link == Link::kContactReader || link == Link::kContactlessReader ||
                            link == Link::kReaderWithoutCard;
        const CardPresence presence = link == Link::kContactReader       ? CardPresence::kContact
                                      : link == Link::kContactlessReader ? CardPresence::kContactless
                                                                         : CardPresence::kNone;
        library = std::make_unique<sim::SimReaderLibrary>(card, reader ? 1 : 0, presence);
        pcsc = sim::MakeTestPcscLink(card, link == Link::kPcsc);
        ctrl = std::make_unique<COBUIssueCtrl>();
        ctrl->CardAccess().UseLinks(library.get(), pcsc.get());
    }
    ~Bench() { ctrl.reset(); }

    CString Run(int id, const CString& param = "")
    {
        CString result = "not run";
        EXPECT_TRUE(ctrl->RunCommand(id, param, result)) << id;
        return result;
    }

    std::vector<std::string> CardLog() const
    {
        std::vector<std::string> log;
        for (const Bytes& command : card.Log())
            log.push_back(HexOf(command));
        return log;
    }

    sim::VirtualIssuingCard card;
    std::unique_ptr<sim::SimReaderLibrary> library;
    std::unique_ptr<sim::TestPcscLink> pcsc;
    std::unique_ptr<COBUIssueCtrl> ctrl;
};

std::string Hex(const char* text)
{
    return HexOf(BytesOf(text));
}

// " 00" n times: zero bytes following others in a log line.
std::string Zeros(int n)
{
    std::string zeros;
    for (int i = 0; i < n; ++i)
        zeros += " 00";
    return zeros;
}

const std::string kSelect = Hex("00 A4 04 00 07 A0 00 00 02 45 00 01");
const char* const kIssueText = "01,00,50,16,6194,20050101,20070101,01,0,0,";
const char* const kIssueRecord = "01 00 50 16 6194 20050101 20070101 01"
                                 " 0000000000000000000000000000000000000000 00000000000000000000";
const char* const kReIssueText = "2222222222222222,1111111111111111,01,00,50,16,6194,20050101,20070101,01,0,0,";
// Texts with an item that would run past its field.
const char* const kOverlongIssueText = "0100,00,50,16,6194,20050101,20070101,01,0,0,";
const char* const kOverlongReIssueText = "222222222222222222,1111111111111111,01,00,50,";

class EveryLink : public testing::TestWithParam<Link> {};
INSTANTIATE_TEST_SUITE_P(Card, EveryLink,
                         testing::Values(Link::kContactReader, Link::kContactlessReader, Link::kPcsc),
                         [](const testing::TestParamInfo<Link>& info) {
                             switch (info.param) {
                             case Link::kContactReader: return std::string("ContactReader");
                             case Link::kContactlessReader: return std::string("ContactlessReader");
                             default: return std::string("Pcsc");
                             }
                         });

}  // namespace

TEST_P(EveryLink, InitializeIssueCardSendsElevenCommands)  // id 18
{
    Bench bench(GetParam());
    EXPECT_EQ(bench.Run(18), "1:1") << LinkName(GetParam());
    const std::vector<std::string> expected = {
        kSelect,
        Hex("00 B0 88 00 3C"),
        Hex("90 16 00 00 3F"),
        Hex("90 18 00 00 3F F8") + Zeros(62),
        Hex("00 B0 88 00 3C"),
        Hex("90 16 00 00 3F"),
        Hex("90 18 00 00 3F 04 2222222222222222 1111111111111111 F8") + " " + Hex(kIssueRecord),
        Hex("90 1C 00 00 3F"),
        Hex("90 1C 00 00 7E"),
        Hex("90 1C 00 00 3F"),
        Hex("90 1C 00 00 3F"),
    };
    EXPECT_EQ(bench.CardLog(), expected);
    EXPECT_EQ(HexOf(bench.card.Block()), Hex("04 2222222222222222 1111111111111111 F8") + " " + Hex(kIssueRecord));
}

TEST_P(EveryLink, InitializeIssueCardFailsWhenNeitherWriteIsAccepted)  // id 18
{
    Bench bench(GetParam());
    bench.card.AnswerStatus(0x18, 0x6985);
    EXPECT_EQ(bench.Run(18), "1:0") << "both writes refused with 69 85";
    EXPECT_EQ(bench.CardLog().size(), 11u) << "every step still ran";
    bench.card.AnswerSilence(0x18);
    EXPECT_EQ(bench.Run(18), "1:0") << "no answer to either write";
    bench.card.ClearFaults();
    bench.card.AnswerStatus(0x18, 0x6985, 1);
    EXPECT_EQ(bench.Run(18), "1:1") << "the blank block refused, the record written";
    EXPECT_EQ(HexOf(bench.card.Block()), Hex("04 2222222222222222 1111111111111111 F8") + " " + Hex(kIssueRecord));
}

TEST_P(EveryLink, IssueCardNumber)  // id 13
{
    Bench bench(GetParam());
    bench.card.SetCardNumber(BytesOf("12 34 56 78 9A BC DE F0"));
    EXPECT_EQ(bench.Run(13), "1:123456789abcdef0");
    EXPECT_EQ(bench.CardLog(), (std::vector<std::string>{kSelect, Hex("00 B0 88 00 3C")}));

    bench.card.AnswerStatus(0xB0, 0x9000);
    EXPECT_EQ(bench.Run(13), "1:") << "a status without data gives no number";
}

TEST_P(EveryLink, IssueWithTheExampleRecord)  // id 29
{
    Bench bench(GetParam());
    EXPECT_EQ(bench.Run(29, "01%2C00%2C50%2C16%2C6194%2C20050101%2C20070101%2C01%2C0%2C0%2C"), "1:1");
    EXPECT_EQ(bench.CardLog(),
              (std::vector<std::string>{kSelect, Hex("90 1E 01 00 2E F8") + " " + Hex(kIssueRecord)}));
    EXPECT_EQ(bench.card.State(), sim::VirtualIssuingCard::IssueState::kIssued);
    EXPECT_EQ(HexOf(bench.card.IssueRecord()), Hex(kIssueRecord));

    EXPECT_EQ(bench.Run(29, kIssueText), "1:3") << "an issued card refuses a second issue with 69 85";
}

TEST_P(EveryLink, IssueAnswersEachStatus)  // id 29
{
    Bench bench(GetParam());
    const struct {
        uint16_t sw;
        const char* answer;
    } cases[] = {{0x9000, "1:1"}, {0x6985, "1:3"}, {0x6E00, "1:1"}, {0x6A82, "1:0"}, {0x6581, "1:0"}};
    for (const auto& c : cases) {
        bench.card.AnswerStatus(0x1E, c.sw, 1);
        EXPECT_EQ(bench.Run(29, kIssueText), c.answer) << std::hex << c.sw;
    }
    bench.card.AnswerData(0x1E, BytesOf("01 02"), 1);
    EXPECT_EQ(bench.Run(29, kIssueText), "1:11") << "data and 90 00";

    // A card that does not answer: no reply from the reader (2), no answer from
    // the PC/SC service (0).
    bench.card.AnswerSilence(0x1E, 1);
    EXPECT_EQ(bench.Run(29, kIssueText), GetParam() == Link::kPcsc ? "1:0" : "1:2");
}

TEST_P(EveryLink, RenewReturnAndReIssue)  // ids 51, 16, 15, 50
{
    Bench bench(GetParam());
    EXPECT_EQ(bench.Run(51, kIssueText), "1:3") << "a blank card cannot be renewed";
    EXPECT_EQ(bench.Run(29, kIssueText), "1:1");
    EXPECT_EQ(bench.Run(51, "01%2C00%2C50%2C16%2C6194%2C20070101%2C20090101%2C01%2C0%2C0%2C"), "1:1");
    EXPECT_EQ(bench.card.RenewCount(), 1);
    EXPECT_EQ(bench.CardLog().back(),
              Hex("90 1E 03 00 2E 78 01 00 50 16 6194 20070101 20090101 01") + Zeros(30));
    EXPECT_EQ(bench.Run(16), "1:1");
    EXPECT_EQ(bench.CardLog().back(), Hex("90 1E 02 00 00"));
    EXPECT_EQ(bench.card.State(), sim::VirtualIssuingCard::IssueState::kReturned);
    EXPECT_EQ(bench.Run(16), "1:3");
    EXPECT_EQ(bench.Run(15), "1:1");
    EXPECT_EQ(bench.CardLog().back(), Hex("90 1E 04 00 00"));
    EXPECT_EQ(bench.card.ReIssueCount(), 1);

    bench.card.ClearLog();
    EXPECT_EQ(bench.Run(50, "2222222222222222%2C1111111111111111%2C01%2C00%2C50%2C16%2C6194%2C20050101%2C"
                            "20070101%2C01%2C0%2C0%2C"),
              "1:1");
    EXPECT_EQ(bench.CardLog().size(), 4u) << "select, the two reads, the write";
    EXPECT_EQ(HexOf(bench.card.Block()), Hex("04 2222222222222222 1111111111111111 F8") + " " + Hex(kIssueRecord));
}

TEST_P(EveryLink, AddTwoNumbers)  // id 28
{
    Bench bench(GetParam());
    EXPECT_EQ(bench.Run(28, "6194000000000001%2C6194000000000002%2C"), "1:0");
    EXPECT_EQ(bench.CardLog(), (std::vector<std::string>{kSelect, Hex("90 22 00 00 08 61 94 00 00 00 00 00 01"),
                                                         Hex("90 22 00 00 08 61 94 00 00 00 00 00 02")}));
    EXPECT_EQ(bench.card.OBUNumbers().size(), 2u);
    EXPECT_EQ(bench.Run(14), "1:2");
}

TEST_P(EveryLink, AddThreeNumbersOneRefused)  // id 28
{
    Bench bench(GetParam());
    bench.card.AddNumber(BytesOf("6194000000000002"));  // already on the card: refused with 69 85
    EXPECT_EQ(bench.Run(28, "6194000000000001%2C6194000000000002%2C6194000000000003%2C"), "1:1");
    EXPECT_EQ(bench.CardLog(), (std::vector<std::string>{kSelect, Hex("90 22 00 00 08 61 94 00 00 00 00 00 01"),
                                                         Hex("90 22 00 00 08 61 94 00 00 00 00 00 02")}));
    EXPECT_EQ(bench.card.OBUNumbers().size(), 2u);
}

TEST_P(EveryLink, AddNumbersSucceedsOnlyWhenEveryNumberWasAccepted)  // id 28
{
    Bench bench(GetParam());
    EXPECT_EQ(bench.Run(28, ""), "1:0") << "no number";
    bench.card.AnswerStatus(0x22, 0x6A82, 1);
    EXPECT_EQ(bench.Run(28, "6194000000000001,"), "1:1") << "a status not listed";
    bench.card.AnswerSilence(0x22, 1);
    EXPECT_EQ(bench.Run(28, "6194000000000001,"), "1:1") << "no answer";
    bench.card.AnswerStatus(0x22, 0x6E00, 1);
    EXPECT_EQ(bench.Run(28, "6194000000000001,"), "1:1");
    EXPECT_EQ(bench.card.OBUNumbers().size(), 0u);
}

TEST_P(EveryLink, IssueTextsAreWrittenAsTheyPack)  // ids 29, 51
{
    const struct {
        const char* text;
        const char* record;
    } cases[] = {
        // Field 8 in lower case: 0a packs as 2A.
        {"01,00,50,16,6194,20050101,20070101,0a,0,0,", "01 00 50 16 6194 20050101 20070101 2A"},
        // Seven digits in field 6 pack nothing: the field stays zero.
        {"01,00,50,16,6194,2005011,20070101,01,0,0,", "01 00 50 16 6194 00000000 20070101 01"},
        // The last item without its comma is read as empty.
        {"01,00,50,16,6194,20050101,20070101,01,0,12", "01 00 50 16 6194 20050101 20070101 01"},
        // Other characters pack by their low bits: A1 gives 11, ":" counts 10.
        {"01,00,50,16,6194,20050101,200701A1,01,0,0,", "01 00 50 16 6194 20050101 20070111 01"},
        {"0:,00,50,16,6194,20050101,20070101,01,0,0,", "0A 00 50 16 6194 20050101 20070101 01"},
        // Fewer than ten items: the rest stays zero.
        {"01,00,", "01 00 00 00 0000 00000000 00000000 00"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        Bench bench(GetParam());
        EXPECT_EQ(bench.Run(29, c.text), "1:1");
        EXPECT_EQ(bench.CardLog().back(), Hex("90 1E 01 00 2E F8") + " " + Hex(c.record) + Zeros(30));
        EXPECT_EQ(bench.Run(51, c.text), "1:1");
        EXPECT_EQ(bench.CardLog().back(), Hex("90 1E 03 00 2E 78") + " " + Hex(c.record) + Zeros(30));
    }
}

TEST_P(EveryLink, ReIssueWithOnlyTheTwoNumbers)  // id 50
{
    Bench bench(GetParam());
    EXPECT_EQ(bench.Run(50, "2222222222222222%2C1111111111111111%2C"), "1:1");
    EXPECT_EQ(bench.CardLog().size(), 4u) << "select, the two reads, the write";
    EXPECT_EQ(HexOf(bench.card.Block()), Hex("04 2222222222222222 1111111111111111 F8") + Zeros(45));
}

TEST_P(EveryLink, NumberListsAreTakenAsTheyParse)  // id 28
{
    Bench bench(GetParam());
    EXPECT_EQ(bench.Run(28, "6194000000000001%2c"), "1:0") << "a lower-case %2c is no comma: no number";
    EXPECT_EQ(bench.CardLog(), std::vector<std::string>{kSelect});
    EXPECT_EQ(bench.Run(28, "6194000000000001,6194000000000002"), "1:0") << "the last number has no comma";
    EXPECT_EQ(bench.Run(28, "6194000000000003,619400000000004,6194000000000005,"), "1:0") << "15 digits skipped";
    EXPECT_EQ(bench.Run(28, "61940000000000A6,"), "1:0");
    EXPECT_EQ(bench.card.OBUNumbers(),
              (std::vector<Bytes>{BytesOf("6194000000000001"), BytesOf("6194000000000003"),
                                  BytesOf("6194000000000005"), BytesOf("6194000000000016")}));
}

TEST_P(EveryLink, TextsThatWouldRunPastTheirFieldAreNotSent)  // ids 29, 50, 51
{
    Bench bench(GetParam());
    EXPECT_EQ(bench.Run(29, kOverlongIssueText), "1:0");
    EXPECT_EQ(bench.Run(29, "01,00,50,16,6194,20050101,20070101,01,0,1234567890123456789012,"), "1:0");
    EXPECT_EQ(bench.Run(51, "01,00,50,16,6194,2005010101,20070101,01,0,0,"), "1:0");
    EXPECT_EQ(bench.Run(50, kOverlongReIssueText), "1:0");
    EXPECT_EQ(bench.Run(50, "2222222222222222,1111111111111111,01,00,50,16,6194,20050101,20070101,0101,0,0,"),
              "1:0");
    for (const std::string& command : bench.CardLog())
        EXPECT_EQ(command, kSelect) << "only the open step reached the card";
    EXPECT_EQ(bench.card.State(), sim::VirtualIssuingCard::IssueState::kBlank);
}

TEST_P(EveryLink, BlockTexts)  // ids 20, 21, 22, 23
{
    Bench bench(GetParam());
    ASSERT_EQ(bench.Run(50, kReIssueText), "1:1");
    ASSERT_EQ(bench.Run(29, kIssueText), "1:1");
    // From the block's second byte, its status word and one 00 after it.
    const std::string block = "2222222222222222" "1111111111111111" "f8"
                              "010050166194200501012007010101" + std::string(60, '0');
    EXPECT_EQ(bench.Run(20), "1:" + block + "9000" + "00");
    EXPECT_EQ(bench.Run(20).GetLength(), 2u + 130u);
    EXPECT_EQ(bench.Run(22), "1:" + block + "9000" + "00");
    EXPECT_EQ(bench.Run(23), "1:" + block + "9000" + "00");
    // The long block: the block, the issue state and the issue record.
    const std::string longBlock = block + "01" + "010050166194200501012007010101" + std::string(60, '0') +
                                  std::string(34, '0');
    EXPECT_EQ(bench.Run(21), "1:" + longBlock + "9000" + "00");

    bench.card.AnswerStatus(0x1C, 0x6985, 1);
    EXPECT_EQ(bench.Run(20), "1:3");
    bench.card.AnswerStatus(0x1C, 0x9000, 1);
    EXPECT_EQ(bench.Run(21), "1:10");
    bench.card.AnswerSilence(0x1C, 1);
    EXPECT_EQ(bench.Run(20), GetParam() == Link::kPcsc ? "1:0" : "1:2");
}

TEST_P(EveryLink, LongBlockStartingWith06)  // id 21
{
    Bench bench(GetParam());
    Bytes data(126, 0x33);
    data[0] = 0x06;
    data[1] = 0x44;
    bench.card.AnswerData(0x1C, data);
    // Through the reader library such a block is read from its third byte.
    const std::string from = GetParam() == Link::kPcsc ? "44" : "";
    EXPECT_EQ(bench.Run(21), "1:" + from + std::string(124 * 2, '3') + "9000" + "00");
}

TEST_P(EveryLink, OBUNumberCountAndTerminal)  // ids 14, 24
{
    Bench bench(GetParam());
    EXPECT_EQ(bench.Run(14), "1:0");
    for (int i = 0; i < 12; ++i)
        bench.card.AddNumber(Bytes(8, static_cast<uint8_t>(i)));
    EXPECT_EQ(bench.Run(14), "1:12");
    EXPECT_EQ(bench.CardLog().back(), Hex("00 CA 01 32 02"));
    bench.card.AnswerStatus(0xCA, 0x6A82, 1);
    EXPECT_EQ(bench.Run(14), "1:0") << "a refusal is no count, on every link";
    // Both bytes of the count: 300 is 01 2C.
    for (int i = 12; i < 300; ++i)
        bench.card.AddNumber({0x61, 0x94, 0, 0, 0, 0, static_cast<uint8_t>(i >> 8), static_cast<uint8_t>(i)});
    EXPECT_EQ(bench.Run(14), "1:300");
    bench.card.AnswerData(0xCA, BytesOf("01 00"), 1);
    EXPECT_EQ(bench.Run(14), "1:256");

    EXPECT_EQ(bench.Run(24), "1:1");
    EXPECT_EQ(bench.CardLog().back(), Hex("90 1E 06 00 00"));
    bench.card.AnswerData(0x1E, BytesOf("00 01 02"), 1);
    EXPECT_EQ(bench.Run(24), "1:11") << "data with 90 00 is not done";
}

TEST(CardCommands, FindCardOnEachLink)  // id 12
{
    EXPECT_EQ(Bench(Link::kContactReader).Run(12), "1:1");
    EXPECT_EQ(Bench(Link::kContactlessReader).Run(12), "1:1");
    EXPECT_EQ(Bench(Link::kPcsc).Run(12), "1:0") << "detection is the reader library's";
    EXPECT_EQ(Bench(Link::kReaderWithoutCard).Run(12), "1:0");
    EXPECT_EQ(Bench(Link::kNothing).Run(12), "0:0");
}

TEST(CardCommands, NoReaderAnswers)
{
    Bench bench(Link::kNothing);
    EXPECT_EQ(bench.Run(11), "0:9");
    for (int id : {17, 19, 25, 26})
        EXPECT_EQ(bench.Run(id), "0:9") << id;
    EXPECT_EQ(bench.Run(12), "0:0");
    EXPECT_EQ(bench.Run(13), "0:2");
    EXPECT_EQ(bench.Run(14), "0:N");
    EXPECT_EQ(bench.Run(15), "0:2");
    EXPECT_EQ(bench.Run(16), "0:2");
    EXPECT_EQ(bench.Run(18), "0:0") << "nothing was written";
    EXPECT_EQ(bench.Run(20), "0:2");
    EXPECT_EQ(bench.Run(21), "0:2");
    EXPECT_EQ(bench.Run(24), "0:2");
    EXPECT_EQ(bench.Run(27), "1:9");
    EXPECT_EQ(bench.Run(28, ""), "0:0");
    EXPECT_EQ(bench.Run(28, "6194000000000001,"), "0:1");
    EXPECT_EQ(bench.Run(29, kIssueText), "0:2");
    EXPECT_EQ(bench.Run(50, kReIssueText), "0:2");
    EXPECT_EQ(bench.Run(51, kIssueText), "0:2");
    // A text too long for its record is told after the link.
    EXPECT_EQ(bench.Run(29, kOverlongIssueText), "0:2");
    EXPECT_EQ(bench.Run(50, kOverlongReIssueText), "0:2");
    EXPECT_EQ(bench.Run(51, kOverlongIssueText), "0:2");
    EXPECT_TRUE(bench.card.Log().empty());
    EXPECT_EQ(bench.pcsc->Connects(), 22) << "every open tried PC/SC once; id 27 does not open";
}

TEST(CardCommands, ReaderWithoutCardAnswers)
{
    Bench bench(Link::kReaderWithoutCard);
    EXPECT_EQ(bench.Run(11), "1:9");
    EXPECT_EQ(bench.Run(13), "1:");
    EXPECT_EQ(bench.Run(14), "1:0");
    EXPECT_EQ(bench.Run(29, kIssueText), "1:2");
    // ... and after the card.
    EXPECT_EQ(bench.Run(29, kOverlongIssueText), "1:2");
    EXPECT_EQ(bench.Run(50, kOverlongReIssueText), "1:2");
    EXPECT_EQ(bench.Run(51, kOverlongIssueText), "1:2");
    EXPECT_EQ(bench.Run(20), "1:2");
    EXPECT_EQ(bench.Run(28, "6194000000000001,"), "1:1");
    EXPECT_EQ(bench.Run(18), "1:0") << "no card took either write";
    EXPECT_EQ(bench.pcsc->Connects(), 0) << "the reader library's port wins, card or no card";
}

TEST(CardCommands, OpenLeavesTheReaderOpenAndCloseClosesIt)  // ids 11, 27
{
    Bench bench(Link::kContactReader);
    EXPECT_EQ(bench.Run(27), "1:9") << "nothing open";
    EXPECT_EQ(bench.Run(11), "1:9");
    EXPECT_TRUE(bench.library->IsOpen(100));
    EXPECT_EQ(bench.ctrl->CardAccess().ReaderKind(), card::kReaderLibrary);
    EXPECT_EQ(bench.library->Calls(),
              (std::vector<std::string>{"InitPort 100", "InitPort 101", "PowerOn 100", "Case3 100 " + kSelect}));

    EXPECT_EQ(bench.Run(11), "1:9");
    EXPECT_EQ(bench.library->Calls()[4], "ClosePort 100") << "an open link is closed before it is opened again";
    EXPECT_EQ(bench.Run(27), "1:9");
    EXPECT_FALSE(bench.library->IsOpen(100));
    EXPECT_EQ(bench.library->Calls().back(), "ClosePort 100");
    EXPECT_EQ(bench.ctrl->CardAccess().ReaderKind(), card::kReaderNone);
    EXPECT_EQ(bench.Run(27), "1:9");
    EXPECT_EQ(bench.library->Calls().back(), "ClosePort 100") << "nothing more to close";

    Bench pcsc(Link::kPcsc);
    EXPECT_EQ(pcsc.Run(17), "1:9");
    EXPECT_TRUE(pcsc.pcsc->Connected());
    EXPECT_EQ(pcsc.Run(11), "1:9");
    EXPECT_EQ(pcsc.pcsc->Connects(), 2);
    EXPECT_TRUE(pcsc.pcsc->Connected());
    EXPECT_EQ(pcsc.Run(27), "1:9");
    EXPECT_FALSE(pcsc.pcsc->Connected());
}

TEST(CardCommands, EveryOtherCommandClosesTheReader)
{
    Bench bench(Link::kContactlessReader);
    for (int id : {12, 13, 14, 15, 16, 18, 20, 21, 22, 23, 24}) {
        bench.Run(id);
        EXPECT_FALSE(bench.library->IsOpen(100)) << id;
    }
    for (int id : {28, 29, 50, 51, 52}) {
        bench.Run(id, "x");
        EXPECT_FALSE(bench.library->IsOpen(100)) << id;
    }
}

TEST(CardCommands, ContactlessCardGoesThroughTheTransparentChannel)
{
    Bench bench(Link::kContactlessReader);
    EXPECT_EQ(bench.Run(13), "1:102030405060708f");
    EXPECT_EQ(bench.library->Calls(),
              (std::vector<std::string>{"InitPort 100", "InitPort 101", "PowerOn 100", "Transparent 4C 100 03 00 00 00",
                                        "Transparent 61 100 " + kSelect, "Transparent 61 100 00 B0 88 00 3C",
                                        "ClosePort 100"}));

    // The card leaves the field: detection finds nothing, and the commands still
    // go out through the transparent channel.
    bench.library->SetPresence(CardPresence::kNone);
    const size_t before = bench.library->Calls().size();
    EXPECT_EQ(bench.Run(12), "1:0");
    EXPECT_EQ(std::vector<std::string>(bench.library->Calls().begin() + before, bench.library->Calls().end()),
              (std::vector<std::string>{"InitPort 100", "InitPort 101", "PowerOn 100", "Transparent 4C 100 03 00 00 00",
                                        "Transparent 61 100 " + kSelect, "PowerOn 100",
                                        "Transparent 4C 100 03 00 00 00", "ClosePort 100"}));
}

TEST(CardCommands, TwoReadersBothClosed)
{
    sim::VirtualIssuingCard card;
    sim::SimReaderLibrary library(card, 2, CardPresence::kContact);
    {
        COBUIssueCtrl ctrl;
        ctrl.CardAccess().UseLinks(&library, nullptr);
        CString result;
        ctrl.RunCommand(13, "", result);
        EXPECT_EQ(result, "1:102030405060708f");
        EXPECT_EQ(library.Calls().front(), "InitPort 100");
        EXPECT_EQ(library.Calls()[2], "InitPort 102");
        EXPECT_FALSE(library.IsOpen(100));
        EXPECT_FALSE(library.IsOpen(101));
    }
}

TEST(CardCommands, CloseStepAtExit)
{
    sim::VirtualIssuingCard card;
    sim::SimReaderLibrary library(card, 1, CardPresence::kContact);
    auto pcsc = sim::MakeTestPcscLink(card, true);
    {
        COBUIssueCtrl ctrl;
        ctrl.CardAccess().UseLinks(&library, pcsc.get());
        CString result;
        ctrl.RunCommand(11, "", result);
        EXPECT_TRUE(library.IsOpen(100));
    }
    EXPECT_FALSE(library.IsOpen(100)) << "the controller's end closes the reader library's port";

    sim::SimReaderLibrary noReader(card, 0, CardPresence::kNone);
    {
        COBUIssueCtrl ctrl;
        ctrl.CardAccess().UseLinks(&noReader, pcsc.get());
        CString result;
        ctrl.RunCommand(26, "", result);
        EXPECT_EQ(result, "1:9");
        EXPECT_TRUE(pcsc->Connected());
    }
    EXPECT_FALSE(pcsc->Connected()) << "the controller's end closes the PC/SC card";
}

namespace {

// A PC/SC link whose card answers (90 00) only once the test lets it, and
// which notes a close that comes while a command is on the line.
class HeldPcscLink : public card::IPcscLink {
public:
    bool Connect() override { return true; }
    bool Transmit(const uint8_t*, size_t, uint8_t* reply, size_t, size_t& replyLength) override
    {
        std::unique_lock<std::mutex> hold(m_lock);
        m_transmitting = true;
        m_changed.notify_all();
        m_changed.wait(hold, [this] { return m_released; });
        m_transmitting = false;
        reply[0] = 0x90;
        reply[1] = 0x00;
        replyLength = 2;
        return true;
    }
    void Close() override
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_transmitting) m_closedDuringCommand = true;
    }
    void WaitTransmitting()
    {
        std::unique_lock<std::mutex> hold(m_lock);
        m_changed.wait(hold, [this] { return m_transmitting; });
    }
    void Release()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_released = true;
        m_changed.notify_all();
    }
    bool ClosedDuringCommand()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_closedDuringCommand;
    }

private:
    std::mutex m_lock;
    std::condition_variable m_changed;
    bool m_transmitting = false;
    bool m_released = false;
    bool m_closedDuringCommand = false;
};

}  // namespace

TEST(CardCommands, TheCloseAtExitWaitsForTheCardCommandUnderWay)
{
    HeldPcscLink link;
    auto ctrl = std::make_unique<COBUIssueCtrl>();
    ctrl->CardAccess().UseLinks(nullptr, &link);
    std::thread client([&] { ctrl->FindCard(); });
    link.WaitTransmitting();
    std::atomic<bool> ended{false};
    std::thread exiting([&] {
        ctrl.reset();
        ended = true;
    });
    corvane::SleepMs(200);
    EXPECT_FALSE(ended) << "the end waits for the command";
    EXPECT_FALSE(link.ClosedDuringCommand());
    link.Release();
    client.join();
    exiting.join();
    EXPECT_TRUE(ended);
}

namespace {

// Every card command with a parameter it takes.
struct CardRequest {
    int id;
    const char* param;
};
const CardRequest kEveryCardRequest[] = {
    {11, ""}, {12, ""}, {13, ""}, {14, ""}, {15, ""}, {16, ""}, {17, ""}, {18, ""}, {19, ""}, {20, ""},
    {21, ""}, {22, ""}, {23, ""}, {24, ""}, {25, ""}, {26, ""}, {27, ""}, {28, "6194000000000001,"},
    {29, kIssueText}, {50, kReIssueText}, {51, kIssueText}, {52, "1"},
};

// What each answers when no reader link can be opened.
std::vector<std::string> NoLinkAnswers()
{
    Bench nothing(Link::kNothing);
    std::vector<std::string> answers;
    for (const CardRequest& request : kEveryCardRequest)
        answers.push_back(nothing.Run(request.id, request.param).str());
    return answers;
}

// A PC/SC link that, the first time it carries a command, runs `during` first
// (as a click dispatched while a card command waits).
class InterruptedPcscLink : public card::IPcscLink {
public:
    InterruptedPcscLink(card::IPcscLink& link, std::function<void()> during)
        : m_link(link), m_during(std::move(during))
    {
    }
    bool Connect() override { return m_link.Connect(); }
    bool Transmit(const uint8_t* request, size_t length, uint8_t* reply, size_t capacity, size_t& replyLength) override
    {
        if (m_during) {
            const std::function<void()> during = std::move(m_during);
            m_during = nullptr;
            during();
        }
        return m_link.Transmit(request, length, reply, capacity, replyLength);
    }
    void Close() override { m_link.Close(); }

private:
    card::IPcscLink& m_link;
    std::function<void()> m_during;
};

}  // namespace

TEST(CardCommands, ARefusedCardCommandAnswersAsWithoutAReaderAndLeavesTheCardAlone)
{
    const std::vector<std::string> noLink = NoLinkAnswers();
    const std::string alone = Bench(Link::kPcsc).Run(13).str();
    ASSERT_EQ(alone, "1:102030405060708f");

    // Nested: every card command started on the thread whose command is on the
    // card.
    Bench bench(Link::kPcsc);
    std::vector<std::string> nested;
    InterruptedPcscLink link(*bench.pcsc, [&] {
        for (const CardRequest& request : kEveryCardRequest)
            nested.push_back(bench.Run(request.id, request.param).str());
    });
    bench.ctrl->CardAccess().UseLinks(nullptr, &link);
    EXPECT_EQ(bench.Run(13), alone);
    EXPECT_EQ(nested, noLink);
    EXPECT_EQ(bench.pcsc->Connects(), 1);
    EXPECT_EQ(bench.card.Log().size(), 2u) << "the SELECT and the read only";

    // The window thread while a page client's command waits on a silent card.
    HeldPcscLink silent;
    auto ctrl = std::make_unique<COBUIssueCtrl>();
    ctrl->CardAccess().UseLinks(nullptr, &silent);
    CString clientAnswer;
    std::thread client([&] { ctrl->RunCommand(12, "", clientAnswer); });
    silent.WaitTransmitting();
    std::vector<std::string> onWindowThread;
    bool answeredAtOnce = false;
    {
        WindowThread window([&] {
            for (const CardRequest& request : kEveryCardRequest) {
                CString answer;
                ctrl->RunCommand(request.id, request.param, answer);
                onWindowThread.push_back(answer.str());
            }
        });
        answeredAtOnce = window.DoneWithin(3000);
        EXPECT_FALSE(silent.ClosedDuringCommand());
        silent.Release();
    }
    client.join();
    EXPECT_TRUE(answeredAtOnce);
    EXPECT_EQ(onWindowThread, noLink);
    EXPECT_EQ(clientAnswer, "1:0") << "as alone";
    EXPECT_FALSE(silent.ClosedDuringCommand());
}

TEST(CardCommands, RequestsOfTwoConnectionsTakeTurns)
{
    for (Link link : {Link::kContactReader, Link::kPcsc}) {
        Bench bench(link);
        std::vector<std::string> answers[2];
        auto client = [&](int n, int id) {
            for (int i = 0; i < 40; ++i)
                answers[n].push_back(bench.Run(id).str());
        };
        std::thread first(client, 0, 13);
        std::thread second(client, 1, 14);
        first.join();
        second.join();
        for (const std::string& answer : answers[0])
            EXPECT_EQ(answer, "1:102030405060708f") << LinkName(link);
        for (const std::string& answer : answers[1])
            EXPECT_EQ(answer, "1:0") << LinkName(link);
        EXPECT_EQ(bench.card.Log().size(), 160u);
    }
}

// ------------------------------------------------------------------ receipt

namespace {

struct PrintJob {
    std::vector<std::string> calls;
    std::vector<std::pair<int, std::string>> lines;  // y, bytes
    std::string refused;  // the call the printer refuses ("TextOut 8": line 8's), none when empty
};

class RecordingContext : public IPrintContext {
public:
    explicit RecordingContext(PrintJob& job) : m_job(job) {}
    ~RecordingContext() override { m_job.calls.push_back("DeleteDC"); }
    bool StartDoc(const char* name) override { return Record(std::string("StartDoc ") + name, "StartDoc"); }
    bool StartPage() override { return Record("StartPage"); }
    bool TextOut(int x, int y, const char* bytes, int count) override
    {
        EXPECT_EQ(x, 0);
        m_job.lines.emplace_back(y, std::string(bytes, static_cast<size_t>(count)));
        return m_job.refused != "TextOut " + std::to_string(y / LineHeight());
    }
    bool EndPage() override { return Record("EndPage"); }
    bool EndDoc() override { return Record("EndDoc"); }
    int LineHeight() override { return 20; }

private:
    bool Record(const std::string& call, const std::string& name = "")
    {
        m_job.calls.push_back(call);
        return m_job.refused != (name.empty() ? call : name);
    }
    PrintJob& m_job;
};

class RecordingDialog : public IPrintDialog {
public:
    explicit RecordingDialog(PrintJob& job, bool cancel = false) : m_job(job), m_cancel(cancel) {}
    std::unique_ptr<IPrintContext> Show() override
    {
        ++shown;
        if (m_cancel)
            return nullptr;
        return std::make_unique<RecordingContext>(m_job);
    }
    int shown = 0;

private:
    PrintJob& m_job;
    bool m_cancel;
};

const std::vector<std::string> kWholeJob = {"StartDoc IssueSystem", "StartPage", "EndPage", "EndDoc", "DeleteDC"};

std::string Cp949(const char* hex)
{
    const Bytes bytes = BytesOf(hex);
    return std::string(bytes.begin(), bytes.end());
}

}  // namespace

TEST(CardCommands, ReceiptLinesByteForByte)  // id 52
{
    Bench bench(Link::kPcsc);
    PrintJob job;
    RecordingDialog dialog(job);
    bench.ctrl->UseReceiptPrinter(&dialog, FixedTime);
    EXPECT_EQ(bench.Run(52, "15%2C000"), "1:TRUE");

    EXPECT_EQ(job.calls, kWholeJob);
    const std::string lf = "\x0A\x0D";
    const std::vector<std::pair<int, std::string>> expected = {
        {0, "\x1B\x61\x01"},
        {20, "\x1B\x21\x30"},
        {40, "\x1B\x2D\x01"},
        {60, Cp949("BFB5 20202020 BCF6 20202020 C1F5")},  // 영    수    증
        {80, lf},
        {100, lf},
        {120, "\x1B\x40"},
        {140, std::string("\x1B\x2D\x00\x00", 4)},
        {160, Cp949("20 B1DD 2020202020 BED7 2020 3A 2020") + "15%2C000" + Cp949("BFF8 C1A4")},
        {180, lf},
        {200, " 내     역 : OBU선수임대료"},
        {220, lf},
        {240, std::string(20, ' ') + "상기금액을 정히 영수함"},
        {260, lf},
        {280, " 일     자 :  2024.3.5 9:7:0"},
        {300, lf},
        {320, lf},
        {340, " 사업자등록번호 : 314-27-58160"},
        {360, lf},
        {380, lf},
        {400, "  0. 발행기관 :  미리내상사 본사(인)"},
        {440, lf},
        {460, lf},
        {500, "본 영수증은 OBU선수임대료"},
        {520, " 수수에 관한 확인증서 입니다."},
    };
    EXPECT_EQ(job.lines, expected);
}

TEST(CardCommands, ReceiptCancelledOrWithoutReader)  // id 52
{
    Bench bench(Link::kNothing);
    PrintJob job;
    RecordingDialog cancelled(job, true);
    bench.ctrl->UseReceiptPrinter(&cancelled, FixedTime);
    EXPECT_EQ(bench.Run(52, "15000"), "0:FALSE") << "nothing printed";
    EXPECT_EQ(cancelled.shown, 1);
    EXPECT_TRUE(job.calls.empty()) << "no document is started";

    bench.ctrl->UseReceiptPrinter(nullptr, FixedTime);
    EXPECT_EQ(bench.Run(52, "15000"), "0:FALSE") << "no printer to print on";
    EXPECT_TRUE(job.calls.empty());

    RecordingDialog dialog(job);
    bench.ctrl->UseReceiptPrinter(&dialog, FixedTime);
    EXPECT_EQ(bench.Run(52, ""), "0:TRUE");
    ASSERT_EQ(job.lines.size(), 25u);
    EXPECT_EQ(job.lines[8].second, " 금     액  :  원정");
}

// A printer that refuses any one call of the job: the answer says the receipt
// did not print, and the rest of the job is still sent and the context deleted.
TEST(CardCommands, ReceiptRefusedByThePrinter)  // id 52
{
    for (const char* refused : {"StartDoc", "StartPage", "TextOut 0", "TextOut 8", "TextOut 26", "EndPage", "EndDoc"}) {
        Bench bench(Link::kPcsc);
        PrintJob job;
        job.refused = refused;
        RecordingDialog dialog(job);
        bench.ctrl->UseReceiptPrinter(&dialog, FixedTime);
        EXPECT_EQ(bench.Run(52, "15000"), "1:FALSE") << refused;
        EXPECT_EQ(job.calls, kWholeJob) << refused;
        EXPECT_EQ(job.lines.size(), 25u) << refused;
    }
}
