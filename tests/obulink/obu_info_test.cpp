// The OBU information as the agent handles it: the command text's columns,
// the record it sends, the text it answers, the product key text and the
// S-code (checked against the simulators' own AES).
#include "obulink/obu_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "obulink/scode.h"
#include "tests/sim/obu_command_text.h"
#include "tests/sim/reference_aes.h"

namespace {

std::vector<uint8_t> RecordOf(const std::string& text, bool withFlags, uint8_t kind, bool& cut)
{
    ObuInfoArea area;
    uint8_t flags = 0xFF;
    cut = CutObuCommandText(text, withFlags, area, flags);
    std::vector<uint8_t> record(kObuRecordSize);
    PackObuRecord(kind, area, withFlags ? flags : kAllFieldsFlags, record.data());
    return record;
}

}  // namespace

TEST(ObuCommandText, ColumnsOfTheActivationTextFromNamedFields)
{
    ObuFields f;
    const std::string text = f.Text();
    ASSERT_EQ(text.size(), 67u);
    ObuInfoArea area;
    uint8_t flags = 0;
    ASSERT_TRUE(CutObuCommandText(text, false, area, flags));
    const std::string a(reinterpret_cast<const char*>(area.bytes), ObuInfoArea::kSize);
    EXPECT_EQ(a.substr(0, 16), f.field2);
    EXPECT_EQ(a.substr(16, 16), f.field1);
    EXPECT_EQ(a.substr(32, 1), f.field6);
    EXPECT_EQ(a.substr(33, 10), f.field3);
    EXPECT_EQ(area.bytes[43], 0x3F);
    EXPECT_EQ(a.substr(44, 8), f.field4);
    EXPECT_EQ(a.substr(52, 8), f.field5);
    EXPECT_EQ(flags, 0);

    bool cut = false;
    EXPECT_EQ(RecordOf(text, false, 0x01, cut), f.Record(0x01, 0xF8));
    EXPECT_TRUE(cut);
    // The separators are not read: any character stands between the fields.
    EXPECT_EQ(RecordOf(f.Text('|'), false, 0x01, cut), f.Record(0x01, 0xF8));
    // The text may run on past its columns.
    EXPECT_EQ(RecordOf(text + "_trailing", false, 0x04, cut), f.Record(0x04, 0xF8));
}

TEST(ObuCommandText, FieldSevenInEitherCaseAndTheChangeFlags)
{
    ObuFields f;
    f.field7 = "1A";
    bool cut = false;
    EXPECT_EQ(RecordOf(f.Text(), false, 0x01, cut)[32], 0x1A);
    f.field7 = "3f";
    EXPECT_EQ(RecordOf(f.Text(), false, 0x01, cut)[32], 0x3F) << "lower case is read as upper case";
    f.field7 = "09";
    EXPECT_EQ(RecordOf(f.Text(), false, 0x01, cut)[32], 0x09);

    f.field7 = "3F";
    struct { const char* flags; uint8_t byte; } cases[] = {
        {"10101", 0xA8}, {"11111", 0xF8}, {"00000", 0x00}, {"1x1 0", 0xA0}, {"00001", 0x08}};
    for (const auto& c : cases) {
        f.flags = c.flags;
        ObuInfoArea area;
        uint8_t flags = 0;
        ASSERT_TRUE(CutObuCommandText(f.Text(), true, area, flags)) << c.flags;
        EXPECT_EQ(flags, c.byte) << c.flags;
        EXPECT_EQ(RecordOf(f.Text(), true, 0x03, cut), f.Record(0x03, c.byte)) << c.flags;
    }
}

TEST(ObuCommandText, ShortOrMalformedTextsAreRefused)
{
    ObuFields f;
    const std::string good = f.Text();
    ObuInfoArea area;
    uint8_t flags = 0;
    EXPECT_FALSE(CutObuCommandText(good.substr(0, 66), false, area, flags));
    EXPECT_FALSE(CutObuCommandText("", false, area, flags));
    EXPECT_FALSE(CutObuCommandText(good, true, area, flags)) << "the change needs its five flags";
    f.flags = "1010";
    EXPECT_FALSE(CutObuCommandText(f.Text(), true, area, flags));

    // Every digit position of fields 1 to 6 and both of field 7.
    const std::vector<size_t> digits = [] {
        std::vector<size_t> p;
        for (size_t i = 0; i < 16; ++i) p.push_back(i);
        for (size_t i = 17; i < 33; ++i) p.push_back(i);
        for (size_t i = 34; i < 44; ++i) p.push_back(i);
        for (size_t i = 45; i < 53; ++i) p.push_back(i);
        for (size_t i = 54; i < 62; ++i) p.push_back(i);
        p.push_back(63);
        return p;
    }();
    for (size_t at : digits) {
        std::string bad = good;
        bad[at] = 'A';
        EXPECT_FALSE(CutObuCommandText(bad, false, area, flags)) << at;
        for (uint8_t b : area.bytes) ASSERT_EQ(b, 0) << "nothing of a refused text is kept";
    }
    for (size_t at : {65u, 66u})
        for (char c : {'G', 'g', ' ', ':'}) {
            std::string bad = good;
            bad[at] = c;
            EXPECT_FALSE(CutObuCommandText(bad, false, area, flags)) << at << c;
        }
}

TEST(ObuInformationText, LayoutOfTheAnswerData)
{
    uint8_t d[64] = {};
    EXPECT_EQ(ObuInformationText(d),
              "0_0000000000000000_0000000000000000_0000000000_00000000_00000000_0_00");
    ObuFields f;
    const std::vector<uint8_t> record = f.Record(0x01, 0xF8);
    std::memcpy(d, record.data(), record.size());
    EXPECT_EQ(ObuInformationText(d), f.InformationText('1'));
    EXPECT_EQ(ObuInformationText(d).GetLength(), kObuInfoTextLength);

    // Field 1 is shown as hexadecimal digits, the others as '0' + value.
    std::memset(d, 0, sizeof d);
    d[0] = 0x0C;
    d[1] = 0xAB;
    d[9] = 0xA0;
    d[17] = 0xFF;  // the flags are not shown
    d[18] = 0x0B;
    d[32] = 0xCD;
    EXPECT_EQ(ObuInformationText(d),
              "<_AB00000000000000_:000000000000000_0000000000_00000000_00000000_;_CD");
}

TEST(SCode, FirstEightBytesOfAes128OfTheMfsn)
{
    const std::string mfsn = "123456789ABCDEF0";
    const std::string keyText = "KeyText-0123456!";
    const uint8_t block[16] = {0x12, 0x34, 0x56, 0x78, 0x9A, 0xBC, 0xDE, 0xF0};
    uint8_t out[16];
    ReferenceAes(reinterpret_cast<const uint8_t*>(keyText.data()), 16).EncryptBlock(block, out);
    char expected[17];
    for (int i = 0; i < 8; ++i) std::snprintf(expected + 2 * i, 3, "%02X", out[i]);

    CdoCreateScode scode;
    ASSERT_TRUE(scode.SetCommandText(mfsn + ":" + keyText));
    EXPECT_EQ(scode.CreateScode(), expected);

    // A known answer: FIPS-197 appendix C.1's key, block 00 11 .. 77 then zeros.
    const uint8_t fipsKey[16] = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15};
    CdoCreateScode known;
    ASSERT_TRUE(known.SetCommandText("0011223344556677_" + std::string(reinterpret_cast<const char*>(fipsKey), 16)));
    const uint8_t fipsBlock[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77};
    ReferenceAes(fipsKey, 16).EncryptBlock(fipsBlock, out);
    for (int i = 0; i < 8; ++i) std::snprintf(expected + 2 * i, 3, "%02X", out[i]);
    EXPECT_EQ(known.CreateScode(), expected);
}

TEST(SCode, MfsnErrorForAnythingButUpperCaseHexadecimal)
{
    for (const char* text : {"123456789abcdef0_KeyText-0123456!", "123456789ABCDEFG_KeyText-0123456!",
                             "123456789ABCDEF _KeyText-0123456!", "123456789ABCDEF0_short", "", "123"}) {
        CdoCreateScode scode;
        scode.SetCommandText(text);
        EXPECT_EQ(scode.CreateScode(), "MFSN Error") << text;
    }
}
