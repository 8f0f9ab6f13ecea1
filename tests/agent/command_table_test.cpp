#include "agent/commands/obu_issue_ctrl.h"

#include <gtest/gtest.h>

COBUIssueCtrl g_OBUIssueCtrl;

TEST(CommaColonRepair, ExactUpperCaseSequencesOnly)
{
    EXPECT_EQ(COBUIssueCtrl::RepairCommaColon("1%2C2%3A3"), "1,2:3");
    EXPECT_EQ(COBUIssueCtrl::RepairCommaColon("%2c%3a%2C"), "%2c%3a,") << "lower case stays";
    EXPECT_EQ(COBUIssueCtrl::RepairCommaColon("%252C"), "%252C") << "no other %-sequence is touched";
    EXPECT_EQ(COBUIssueCtrl::RepairCommaColon("%%2C2C"), "%,2C") << "a replacement is never scanned again";
    EXPECT_EQ(COBUIssueCtrl::RepairCommaColon("%2"), "%2");
    EXPECT_EQ(COBUIssueCtrl::RepairComma("a%2Cb%3Ac"), "a,b%3Ac") << "the comma-only repair leaves colons";
    EXPECT_EQ(COBUIssueCtrl::RepairCommaColon(""), "");
}

TEST(ResultSlots, JoinedByOneColon)
{
    EXPECT_EQ(COBUIssueCtrl::JoinSlots("1", "9"), "1:9");
    EXPECT_EQ(COBUIssueCtrl::JoinSlots(COBUIssueCtrl::kUnfilledSlot, "TRUE"), "9:TRUE");
}

TEST(CommandTable, NumbersWithoutACommandAreNotRun)
{
    COBUIssueCtrl ctrl;
    CString result = "untouched";
    for (int id : {0, -1, 30, 41, 49, 53, 60, 72, 88, 99})
        EXPECT_FALSE(ctrl.RunCommand(id, "", result)) << id;
    EXPECT_EQ(result, "untouched");
    EXPECT_EQ(ctrl.SetManufactureNumber("a", "b"), "9");
}
