// The OBU commands (ids 31 to 40) through the command table: answer forms,
// the devices they leave open or closed, requests on several threads at once
// taking turns on the one OBU, and the commands refused the OBU: started from
// inside another's wait on the same thread, or on the window thread while
// another thread's command holds it.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "agent/commands/obu_issue_ctrl.h"
#include "tests/agent/obu_command_fixture.h"
#include "tests/agent/window_thread.h"
#include "tests/sim/click_pump.h"

using namespace obu_commands_test;

namespace {

CString Command(int id, const CString& param = "")
{
    COBUIssueCtrl ctrl;
    CString result = "not run";
    EXPECT_TRUE(ctrl.RunCommand(id, param, result)) << id;
    return result;
}

}  // namespace

TEST_F(ObuCommands, EveryIdAnswersInItsFormWithoutAnObu)
{
    EXPECT_EQ(Command(32, kProductText), "0:") << "the key is set all the same";
    EXPECT_EQ(Command(31), "0:0");
    EXPECT_EQ(Command(33), "0:0");
    EXPECT_EQ(Command(34), "0:0");
    ObuFields f;
    EXPECT_EQ(Command(35, f.Text()), "0:0");
    f.flags = "11111";
    EXPECT_EQ(Command(36, f.Text()), "0:0");
    EXPECT_EQ(Command(37, ObuFields().Text()), "0:0");
    EXPECT_EQ(Command(38, "123456789ABCDEF0_KeyText-0123456!").GetLength(), 18u);
    EXPECT_EQ(Command(39), "0");
    EXPECT_EQ(Command(40), "1");

    Attach();
    EXPECT_EQ(Command(34), "2:0_0000000000000000_0000000000000000_0000000000_00000000_00000000_0_00")
        << "the key set without an OBU is the one in use";
}

TEST_F(ObuCommands, KeysAndFieldsAreTakenAsThePageSendsThem)
{
    // Any key text of 32 characters or more sets the key, with or without an
    // OBU; 'G' counts as 7.
    EXPECT_EQ(Command(32, "4b1e00c35a102030405060708090a0bG and a comment"), "0:");
    const uint8_t withSeven[16] = {0x4B, 0x1E, 0x00, 0xC3, 0x5A, 0x10, 0x20, 0x30,
                                   0x40, 0x50, 0x60, 0x70, 0x80, 0x90, 0xA0, 0xB7};
    ObuSimulator keyed(withSeven);
    keyed.keepsInformation = true;
    sim.AddDevice("Wendra-OBU").peer = &keyed;
    EXPECT_EQ(Command(34), "2:0_0000000000000000_0000000000000000_0000000000_00000000_00000000_0_00");
    EXPECT_EQ(Command(32, "4b1e00c35a102030405060708090a0b"), "2:1") << "one character short";
    EXPECT_EQ(Command(33), "2:") << "the key set before stays";

    // The information read's text goes back as it came, ':' and all; a
    // change leaves the fields it does not write blank.
    ObuFields f;
    f.field3 = "01234567:9";
    EXPECT_EQ(Command(35, f.Text()), "2:" + f.InformationText('1'));
    ObuFields change;
    change.field2 = std::string(16, ' ');
    change.field3 = std::string(10, ' ');
    change.field4 = std::string(8, ' ');
    change.field5 = std::string(8, ' ');
    change.flags = "10000";
    EXPECT_EQ(Command(36, change.Text()), "2:" + f.InformationText('3'));
    EXPECT_EQ(keyed.Observed().commands, 4);

    // No repair: "%2C" reaches the OBU as its three characters.
    ObuFields encoded;
    encoded.field1 = "12345678%2C34567";
    Command(35, encoded.Text());
    EXPECT_EQ(keyed.Record(), encoded.Record(0x01, 0xF8));
}

TEST_F(ObuCommands, EachCommandClosesTheObuExceptOpenAlone)
{
    Attach();
    EXPECT_EQ(Command(32, kProductText), "2:");
    EXPECT_FALSE(sim.IsOpen(0));
    EXPECT_EQ(Command(39), "2");
    EXPECT_TRUE(sim.IsOpen(0));
    EXPECT_EQ(Command(33), "2:") << "the open step closes and reopens";
    EXPECT_FALSE(sim.IsOpen(0));
    EXPECT_EQ(Command(39), "2");
    EXPECT_EQ(Command(40), "2");
    EXPECT_EQ(Command(40), "1");
}

TEST_F(ObuCommands, AFailedReadIsReadPastAndOnlyAnObuThatIsGoneEndsTheCommandAtOnce)
{
    SimHidDevice& device = sim.AddDevice("Wendra-OBU");
    device.peer = &obu;
    ASSERT_EQ(Command(32, kProductText), "2:");
    ObuFields f;
    // One read fails with an error that passes: the activation goes on and
    // its answer counts.
    device.failingReads = 1;
    EXPECT_EQ(Command(35, f.Text()), "2:" + f.InformationText('1'));
    auto log = sim.IoLog(0);
    const auto firstRead = std::find_if(log.begin(), log.end(), [](const SimIo& io) { return !io.write; });
    ASSERT_NE(firstRead, log.end());
    EXPECT_EQ(firstRead->result, HidIoResult::Failed);
    EXPECT_EQ(obu.Observed().commands, 1);

    // Reads that keep failing at once are tried again once per read time-out
    // (1000 ms), not faster, until the wait (10000 ms) gives up.
    device.failingReads = 1000;
    const size_t before = log.size();
    EXPECT_EQ(Command(34), "2:0");
    log = sim.IoLog(0);
    const auto reads = std::count_if(log.begin() + static_cast<std::ptrdiff_t>(before), log.end(),
                                     [](const SimIo& io) { return !io.write; });
    EXPECT_GE(reads, 2);
    EXPECT_LE(reads, 20);
    device.failingReads = 0;

    // An OBU that is gone ends the command at once.
    device.readFails = true;
    const uint64_t start = clock.NowMs();
    EXPECT_EQ(Command(34), "2:0");
    EXPECT_LT(clock.NowMs() - start, 10000u);
}

TEST_F(ObuCommands, RequestsOnSeveralThreadsTakeTurns)
{
    Attach();
    ASSERT_EQ(Command(32, kProductText), "2:");
    ObuFields f;
    ASSERT_EQ(Command(35, f.Text()), "2:" + f.InformationText('1'));

    const std::string expected = "2:" + f.InformationText('1');
    std::vector<std::thread> threads;
    // A close alone (id 40) never falls between another request's open and
    // its operation, nor closes the OBU under it: it finds nothing open.
    std::vector<CString> answers(12);
    for (size_t i = 0; i < answers.size(); ++i)
        threads.emplace_back([&, i] { answers[i] = Command(i % 2 ? 40 : 34); });
    for (auto& t : threads) t.join();
    for (size_t i = 0; i < answers.size(); ++i)
        EXPECT_EQ(answers[i].str(), i % 2 ? "1" : expected) << i;
    EXPECT_EQ(obu.Observed().commands, 1 + 6);
}

namespace {

const char kScodeText[] = "123456789ABCDEF0_KeyText-0123456!";
const char kOtherKeyText[] = "00000000000000000000000000000000";

// Every OBU command, and what it answers refused: nested in another command of
// its thread, and on the window thread while another thread holds the OBU (the
// key is set only in the first case).
struct RefusedRow {
    int id;
    std::string param;
    std::string nested;
    std::string onWindowThread;
};

std::vector<RefusedRow> RefusedRows()
{
    const std::string scode = "1:" + g_ObuSelfIssueCtrl.CreateScode(kScodeText).str();
    ObuFields change;
    change.flags = "11111";
    return {
        {31, "", "1:1", "1:1"},
        {32, kProductText, "1:", "1:1"},
        {33, "", "1:1", "1:1"},
        {34, "", "1:1", "1:1"},
        {35, ObuFields().Text(), "1:1", "1:1"},
        {36, change.Text(), "1:1", "1:1"},
        {37, ObuFields().Text(), "1:1", "1:1"},
        {38, kScodeText, scode, scode},
        {39, "", "1", "1"},
        {40, "", "1", "1"},
    };
}

// An issued OBU, keyed, whose information read answers `information`.
class RefusedObuCommands : public ObuCommands {
protected:
    void SetUp() override
    {
        ObuCommands::SetUp();
        Attach();
        ASSERT_EQ(Command(32, kProductText), "2:");
        ASSERT_EQ(Command(35, ObuFields().Text()), information);
    }
    const std::string information = "2:" + ObuFields().InformationText('1');
};

}  // namespace

TEST_F(RefusedObuCommands, ACommandStartedInsideAnotherOnesWaitIsRefusedAndTheOtherAnswersAsIfAlone)
{

    // The panel's buttons clicked while the information read waits on the
    // same thread: each is refused as for an OBU that cannot be opened, and
    // none reaches the OBU or the handle the read is using.
    std::vector<std::string> nested, expected;
    ClickPump clicks([&] {
        for (const RefusedRow& row : RefusedRows()) {
            nested.push_back(Command(row.id, row.param).str());
            expected.push_back(row.nested);
        }
    });
    g_ObuSelfIssueCtrl.SetServices({&clock, &clicks}, &random);
    EXPECT_EQ(Command(34), information);
    ASSERT_TRUE(clicks.Clicked());
    EXPECT_EQ(nested, expected);
    EXPECT_EQ(obu.Observed().mfsnReads, 0);
    EXPECT_EQ(obu.Observed().commands, 2);
    EXPECT_EQ(sim.OpenHandles(), 0);
}

TEST_F(RefusedObuCommands, OnTheWindowThreadACommandIsRefusedAtOnceWhileAnotherThreadHoldsTheObu)
{

    // A page client's information read waits for the OBU's answer; meanwhile
    // every command of the window thread is answered at once, the key too,
    // which it leaves as it is.
    std::vector<std::string> answers, expected;
    std::unique_ptr<WindowThread> window;
    bool answeredAtOnce = false;
    ClickPump wait([&] {
        window = std::make_unique<WindowThread>([&] {
            for (const RefusedRow& row : RefusedRows()) {
                answers.push_back(Command(row.id, row.id == 32 ? kOtherKeyText : row.param).str());
                expected.push_back(row.onWindowThread);
            }
        });
        answeredAtOnce = window->DoneWithin(3000);
    });
    g_ObuSelfIssueCtrl.SetServices({&clock, &wait}, &random);
    EXPECT_EQ(Command(34), information);
    window.reset();
    EXPECT_TRUE(answeredAtOnce);
    EXPECT_EQ(answers, expected);
    EXPECT_EQ(Command(34), information) << "the key in use stays";
    EXPECT_EQ(obu.Observed().mfsnReads, 0);
    EXPECT_EQ(obu.Observed().commands, 3);
    EXPECT_EQ(sim.OpenHandles(), 0);
}
