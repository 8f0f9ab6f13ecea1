// Every export of Tarnlink.dll found by its name, as a program that loads the
// library at run time finds it, and called through that address with the
// arguments of its declaration. The ports used here have no record, so each
// call answers at once with its defined result. (On 32 bits the stack depth
// of each call rests on the decorated byte counts that the product check
// compares with the declarations.)
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <set>
#include <string>

#include "readerlink/tarnlink.h"

namespace {

HMODULE Library()
{
    static HMODULE module = LoadLibraryA("Tarnlink.dll");
    return module;
}

std::set<std::string> g_called;

// The export's address, typed as the declaration of `function`.
template <typename Function>
Function* Find(const char* name)
{
    g_called.insert(name);
    return reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(Library(), name)));
}

#define BY_NAME(function) Find<decltype(function)>(#function)

constexpr int kNoPort = 33;

}  // namespace

TEST(ExportsByName, EveryEntryAnswersThroughItsAddress)
{
    ASSERT_NE(Library(), nullptr);
    unsigned char p[32] = {};
    unsigned char out[2048];
    int outLen = -7;
    const int none = TARNLINK_ERR_NO_PORT;

    // Ports and the reader-command family.
    EXPECT_EQ(BY_NAME(TARN_ClosePort)(kNoPort), none);
    EXPECT_EQ(BY_NAME(TARN_IC_PowerOn)(kNoPort, &outLen, out), none);
    EXPECT_EQ(BY_NAME(TARN_IC_Case1)(kNoPort, 2, p, &outLen, out), none);
    EXPECT_EQ(BY_NAME(TARN_IC_Case2)(kNoPort, 2, p, &outLen, out), none);
    EXPECT_EQ(BY_NAME(TARN_IC_Case3)(kNoPort, 2, p, &outLen, out), none);
    EXPECT_EQ(BY_NAME(TARN_ABM_Transparent)(kNoPort, 0x4C, 2, p, &outLen, out), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Transparent)(kNoPort, 2, p, &outLen, out), none);
    EXPECT_EQ(BY_NAME(TARN_AM_TransparentCRC)(kNoPort, 2, p, &outLen, out), none);
    EXPECT_EQ(BY_NAME(TARN_BM_Transparent)(kNoPort, 2, p, &outLen, out), none);
    EXPECT_EQ(BY_NAME(TARN_BM_TransparentCRC)(kNoPort, 2, p, &outLen, out), none);
    EXPECT_EQ(BY_NAME(TARN_BM_Transparent_Test)(kNoPort, 2, p, &outLen, out, 1, 2), none);
    EXPECT_EQ(BY_NAME(TARN_BM_Transparent_Set)(kNoPort, 0x1234, &outLen, out), none);
    EXPECT_EQ(outLen, -7);
    EXPECT_EQ(BY_NAME(TARN_ABM_RF_On)(kNoPort), none);
    EXPECT_EQ(BY_NAME(TARN_ABM_RF_Off)(kNoPort), none);
    EXPECT_EQ(BY_NAME(TARN_ABM_RF_Reset)(kNoPort), none);
    EXPECT_EQ(BY_NAME(TARN_ABM_BuzzerON)(kNoPort), none);
    EXPECT_EQ(BY_NAME(TARN_ABM_BuzzerOFF)(kNoPort), none);
    EXPECT_EQ(BY_NAME(TARN_ABM_RF_Version)(kNoPort, out), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Reset)(kNoPort, p), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Idle_Req)(kNoPort, out), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Wakeup_Req)(kNoPort, out), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Anticoll)(kNoPort, p, out), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Select)(kNoPort, p, out), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Auth)(kNoPort, p), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Halt)(kNoPort), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Read)(kNoPort, p, out), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Write)(kNoPort, p), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Increment)(kNoPort, p), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Decrement)(kNoPort, p), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Inc_Transfer)(kNoPort, p), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Dec_Transfer)(kNoPort, p), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Restore)(kNoPort, p), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Transfer)(kNoPort, p), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Loadkey)(kNoPort, p), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Authkey)(kNoPort, p), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Req_Auth)(kNoPort, p, out), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Req_Authkey)(kNoPort, p, out), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Inc_Transfer2)(kNoPort, p), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Dec_Transfer2)(kNoPort, p), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Req_Read)(kNoPort, p, out), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Req_Readkey)(kNoPort, p, out), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Read_Credit)(kNoPort, p, out), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Read_Royalty)(kNoPort, p, out), none);
    EXPECT_EQ(BY_NAME(TARN_AM_Device_Info)(kNoPort, out), none);
    EXPECT_EQ(BY_NAME(TARN_AM_WriteE2)(kNoPort, 2, p), none);
    EXPECT_EQ(BY_NAME(TARN_AM_ReadE2)(kNoPort, p, out), none);

    // The older entries, the last seven under their decorated names.
    EXPECT_EQ(BY_NAME(TARN_Polling)(kNoPort, 5, p, 1, out), none);
    EXPECT_EQ(BY_NAME(PollingTarn)(kNoPort, 5, p, 1, out), none);
    EXPECT_EQ(BY_NAME(ClosePort)(kNoPort), kNoPort);
    EXPECT_EQ(Find<decltype(listPollingTarn)>("_listPollingTarn@20")(kNoPort, 0, p, 1, out), none);
    EXPECT_EQ(Find<decltype(TARN200LIB_STD_Write)>("_TARN200LIB_STD_Write@28")(kNoPort, 0, "", "", p, 1, out), none);
    EXPECT_EQ(Find<decltype(TARN200LIB_Polling)>("_TARN200LIB_Polling@20")(kNoPort, 1, p, 1, out), none);
    EXPECT_EQ(Find<decltype(TARN_SendData2Modem)>("_TARN_SendData2Modem@20")(kNoPort, p, 1, 10, out), none);
    EXPECT_EQ(Find<decltype(TARN_ModemCommand)>("_TARN_ModemCommand@20")(kNoPort, p, 1, out, 10), none);
    EXPECT_EQ(Find<decltype(TARN_ListenModemENQ)>("_TARN_ListenModemENQ@12")(kNoPort, 0x05, 10), 0);

    // Entries that make records: ports that cannot open.
    EXPECT_EQ(BY_NAME(TARN_InitPort)(78, 9600), -1);
    EXPECT_EQ(BY_NAME(InitPort)(79, 9600, 0, 8, 0), 255);
    // Protocol 3 only keeps the settings; its device cannot listen and has
    // heard nothing.
    EXPECT_EQ(Find<decltype(ListenPollTarn)>("_ListenPollTarn@28")(80, 9600, 0, 8, 0, 1, 3), 0);
    EXPECT_EQ(Find<decltype(listPollingTarn)>("_listPollingTarn@20")(80, 0, p, 1, out), 0);
    EXPECT_EQ(Find<decltype(ListenPollTarn)>("_ListenPollTarn@28")(81, 9600, 0, 8, 0, 1, 1), -1);
    EXPECT_EQ(BY_NAME(ClosePort)(79), 79);

    EXPECT_EQ(g_called.size(), 58u);
}

TEST(ExportsByName, UndecoratedFormsOfTheDecoratedNamesAreNotExported)
{
    for (const char* name : {"ListenPollTarn", "listPollingTarn", "TARN200LIB_STD_Write", "TARN200LIB_Polling",
                             "TARN_SendData2Modem", "TARN_ModemCommand", "TARN_ListenModemENQ"})
        EXPECT_EQ(GetProcAddress(Library(), name), nullptr) << name;
}
