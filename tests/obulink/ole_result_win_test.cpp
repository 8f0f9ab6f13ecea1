// Results as OLE strings at the Windows boundary.
#include "obulink/ole_result_win.h"

#include <gtest/gtest.h>

#include <cstring>

TEST(OleResult, TextsCrossBothWays)
{
    for (const char* text : {"", "0", "2", "123456789ABCDEF0", "MFSN Error",
                             "1_1234567890123456_6543210987654321_0123456789_20261208_20311207_7_3F"}) {
        OleResult ole{CString(text)};
        ASSERT_NE(ole.get(), nullptr) << text;
        EXPECT_EQ(SysStringLen(ole.get()), std::strlen(text)) << "allocated at its converted length";
        EXPECT_EQ(ole.Text(), text);
    }
}

TEST(OleResult, BackToTextStopsAtTheFirstNul)
{
    OleResult ole{CString("ab\0cd", 5)};
    EXPECT_EQ(SysStringLen(ole.get()), 5u);
    EXPECT_EQ(ole.Text(), "ab");
    EXPECT_EQ(OleResultText(nullptr), "");
}
