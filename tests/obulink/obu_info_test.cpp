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

TEST(ObuCommandText, FieldSevenAndTheChangeFlags)
{
    ObuFields f;
    f.field7 = "1A";
    bool cut = false;
    EXPECT_EQ(RecordOf(f.Text(), false, 0x01, cut)[32], 0x1A);
    f.field7 = "3f";
    EXPECT_EQ(RecordOf(f.Text(), false, 0x01, cut)[32], 0x5F) << "a lower-case low digit counts 32 more";
    f.field7 = "f3";
    EXPECT_EQ(RecordOf(f.Text(), false, 0x01, cut)[32], 0xF3) << "a lower-case high digit, kept to 8 bits";
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

TEST(ObuCommandText, OnlyTextsShorterThanTheirColumnsAreRefused)
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
    for (uint8_t b : area.bytes) ASSERT_EQ(b, 0) << "nothing of a refused text is kept";
}

TEST(ObuCommandText, AnyCharacterOfFieldsOneToSixIsPackedByItsLowFourBits)
{
    // What the information read answers for a four-bit value of 10 (':'), a
    // field left blank, letters and bytes above 0x7F: all are sent.
    ObuFields f;
    f.field1 = "A1b2 3:4;5<6=7>?";
    f.field2 = "                ";
    f.field3 = "01234567:9";
    f.field4 = "\xB0\xA1\x7F\x80" "abcd";
    f.field5 = "        ";
    f.field6 = ":";
    bool cut = false;
    const std::vector<uint8_t> record = RecordOf(f.Text(), false, 0x01, cut);
    EXPECT_TRUE(cut);
    const std::vector<uint8_t> expected = {
        0x01,                                            // kind
        0x11, 0x22, 0x03, 0xA4, 0xB5, 0xC6, 0xD7, 0xEF,  // field 1
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,  // field 2
        0xF8, 0x0A,                                      // flags, field 6
        0x01, 0x23, 0x45, 0x67, 0xA9,                    // field 3
        0x01, 0xF0, 0x12, 0x34,                          // field 4
        0x00, 0x00, 0x00, 0x00,                          // field 5
        0x3F,                                            // field 7
    };
    EXPECT_EQ(record, expected);
    EXPECT_EQ(record, f.Record(0x01, 0xF8)) << "the field tables' packing";

    // Every position of fields 1 to 6 takes a letter: 'A' packs as 1.
    const std::string good = ObuFields().Text();
    for (size_t at = 0; at < 64; ++at) {
        if (at == 16 || at == 33 || at == 44 || at == 53 || at == 62) continue;  // separators
        std::string letter = good, one = good;
        letter[at] = 'A';
        one[at] = '1';
        bool oneCut = false;
        EXPECT_EQ(RecordOf(letter, false, 0x01, cut), RecordOf(one, false, 0x01, oneCut)) << at;
        EXPECT_TRUE(cut && oneCut) << at;
    }
}

TEST(ObuCommandText, FieldSevenTakesAnyCharacter)
{
    // Each character counts as its code less 55 (from 'A' up) or less 48, the
    // byte kept to eight bits: upper-case hexadecimal digits give their value.
    struct { const char* field7; uint8_t byte; } cases[] = {
        {"1A", 0x1A}, {"3f", 0x5F}, {"0a", 0x2A}, {"1G", 0x20}, {"Z0", 0x30}, {":0", 0xA0}, {"  ", 0xF0}, {"0~", 0x47},
    };
    for (const auto& c : cases) {
        ObuFields f;
        f.field7 = c.field7;
        bool cut = false;
        EXPECT_EQ(RecordOf(f.Text(), false, 0x01, cut)[32], c.byte) << c.field7;
        EXPECT_TRUE(cut) << c.field7;
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
