// The result texts of the unit and user information, the holder record and
// the checks of the page's parameters, from answer data and texts alone.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "biometric/biu_text.h"
#include "biometric/holder_info.h"
#include "biometric/unit_info.h"
#include "biometric/user_info.h"

namespace {

std::vector<uint8_t> Data()
{
    return std::vector<uint8_t>(256, 0);
}

TEST(UnitInfoText, IssuedWithNothingElseIs208Characters)
{
    auto d = Data();
    d[2] = 1;
    const UnitInfoVerdict v = DescribeUnitInfo(true, d.data());
    EXPECT_EQ(v.text, ("11" + std::string(65, '0') + "0" + std::string(140, '0')).c_str());
    EXPECT_EQ(v.text.GetLength(), 208u);
    EXPECT_EQ(v.boxText, nullptr);
}

TEST(UnitInfoText, NotIssuedHasNoCountCharacterAndABox)
{
    auto d = Data();
    d[2] = 3;
    UnitInfoVerdict v = DescribeUnitInfo(true, d.data());
    EXPECT_EQ(v.text, ("13" + std::string(205, '0')).c_str());
    EXPECT_STREQ(v.boxText, "미발급 된 BIU 입니다.");
    EXPECT_STREQ(v.boxCaption, "확인");

    d[2] = 0x11;  // the whole byte is tested: not issued, although its digit is '1'
    v = DescribeUnitInfo(true, d.data());
    EXPECT_EQ(v.text.GetLength(), 207u);
    EXPECT_EQ(v.text.GetAt(1), '1');
    EXPECT_STREQ(v.boxText, "미발급 된 BIU 입니다.");
}

TEST(UnitInfoText, RefusalsAndOtherIssueNumber)
{
    auto d = Data();
    UnitInfoVerdict v = DescribeUnitInfo(false, d.data());
    EXPECT_EQ(v.text, "0");
    EXPECT_STREQ(v.boxText, "생체인식기의 문제로 정보조회를 할 수 없습니다.(생체인식기를 뺐다 다시 연결하세요.)");
    EXPECT_STREQ(v.boxCaption, "통신불량");

    d[1] = 0x01;
    d[2] = 2;  // the refusal comes first
    v = DescribeUnitInfo(true, d.data());
    EXPECT_EQ(v.text, "0");
    EXPECT_STREQ(v.boxText, "BIU 정보조회를 할 수 없습니다.");
    EXPECT_STREQ(v.boxCaption, "확인");

    d[1] = 0;
    v = DescribeUnitInfo(true, d.data());
    EXPECT_EQ(v.text, "2");
    EXPECT_STREQ(v.boxText, "등록된 발급 번호가 다릅니다. 확인 후 다시 실행하세요.");
    EXPECT_STREQ(v.boxCaption, "확인");
}

TEST(UnitInfoText, DigitsHexadecimalAndRecords)
{
    auto d = Data();
    d[2] = 1;
    d[3] = 0x4C;   // low four bits: 12 gives '<'
    d[4] = 0xAB;   // packed: ':' ';'
    d[19] = 0x98;
    d[20] = 0xAB;  // hexadecimal: 'A' 'B'
    d[35] = 0x0F;
    // Record 1 in use through one non-zero four-bit value, record 3 through r[8].
    uint8_t* r1 = &d[37 + 18];
    r1[0] = 0x02;
    r1[1] = 0x01;
    r1[9] = 0x12;
    r1[17] = 0x34;
    uint8_t* r3 = &d[37 + 54];
    r3[8] = 0x70;
    // Record 0 holds data but none in r[1..8]: not counted.
    d[37] = 0x09;
    d[37 + 9] = 0x99;

    const std::string text = DescribeUnitInfo(true, d.data()).text.str();
    ASSERT_EQ(text.size(), 208u);
    EXPECT_EQ(text.substr(0, 3), "11<");
    EXPECT_EQ(text.substr(3, 2), ":;");
    EXPECT_EQ(text.substr(33, 2), "98");
    EXPECT_EQ(text.substr(35, 2), "AB");
    EXPECT_EQ(text.substr(65, 2), "0F");
    EXPECT_EQ(text[67], '2');
    EXPECT_EQ(text.substr(68, 35), "9" + std::string(16, '0') + "99" + std::string(16, '0'));
    EXPECT_EQ(text.substr(103, 35), "2" + std::string("01") + std::string(14, '0') + "12" + std::string(14, '0') + "34");
    EXPECT_EQ(text.substr(173, 35), "0" + std::string(14, '0') + "70" + std::string(18, '0'));
}

TEST(UserInfoTextForm, TwentyOneCharactersFromTheData)
{
    auto d = Data();
    d[2] = 3;
    d[3] = 1;
    d[4] = 0x12;
    d[5] = 0x30;
    EXPECT_EQ(UserInfoText(d.data()), ("311230" + std::string(15, '0')).c_str());

    d[7] = 0x0A;  // entry 2's first packed byte: '0' ':'
    EXPECT_EQ(UserInfoText(d.data()).str().substr(7, 2), "0:");

    EXPECT_EQ(UserInfoText(Data().data()), std::string(21, '0').c_str());
}

TEST(UserInfoTextForm, AByteThatComesOutAsZeroEndsTheText)
{
    auto d = Data();
    d[2] = 0xD0;
    EXPECT_EQ(UserInfoText(d.data()), "");
    d[2] = 1;
    d[6] = 0xD0;  // entry 2's whole byte
    EXPECT_EQ(UserInfoText(d.data()), "100000");
}

TEST(HolderRecord, ZerosLettersAndShortTexts)
{
    BiuHolderFields fields;
    ASSERT_TRUE(HolderFieldsFromText(std::string(152, '0'), fields));
    uint8_t message[96] = {};
    PackHolderRecord(fields, message);
    for (size_t i = 16; i < 96; ++i) {
        const uint8_t expected = i == 24 ? 1 : i == 42 ? 2 : i == 60 ? 3 : i == 78 ? 4 : 0;
        EXPECT_EQ(message[i], expected) << i;
    }

    std::string letters(152, '0');
    letters[0] = 'A';  // contributes its low four bits: 1
    letters[1] = '2';
    ASSERT_TRUE(HolderFieldsFromText(letters, fields));
    PackHolderRecord(fields, message);
    EXPECT_EQ(message[16], 0x12);

    // Too short: refused, and the fields are left as they were.
    BiuHolderFields untouched;
    EXPECT_FALSE(HolderFieldsFromText(std::string(151, '7'), untouched));
    EXPECT_FALSE(HolderFieldsFromText("", untouched));
    EXPECT_EQ(untouched.head[0], 0);
    // Longer texts use the first 152 characters.
    std::string longer(152, '0');
    longer += "99";
    ASSERT_TRUE(HolderFieldsFromText(longer, fields));
    PackHolderRecord(fields, message);
    EXPECT_EQ(message[95], 0x00);
}

TEST(DigitPacking, ProductKeyStyle)
{
    uint8_t out[16] = {};
    biu::PackDigitPairs("0123456789aAbBzZ0123456789012345", 32, out);
    EXPECT_EQ(out[0], 0x01);
    EXPECT_EQ(out[4], 0x89);
    EXPECT_EQ(out[5], 0x11);  // 'a' and 'A' both give 1
    EXPECT_EQ(out[6], 0x22);
    EXPECT_EQ(out[7], 0xAA);  // 'z' 0x7A, 'Z' 0x5A
}

}  // namespace
