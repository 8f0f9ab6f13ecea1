// Status decoding, record packing and the checks of the page's texts.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "agent/card/card_status.h"
#include "agent/card/issue_records.h"
#include "agent/commands/receipt.h"
#include "tests/agent/fixed_time.h"
#include "tests/sim/virtual_issuing_card.h"

using sim::Bytes;
using sim::BytesOf;
using sim::HexOf;

namespace {

int Decode(Bytes& reply)
{
    const size_t room = reply.size();
    reply.resize(room + 4, 0);  // the cleared rest of a reply buffer
    size_t length = room;
    const int code = card::DecodeStatus(reply.data(), length);
    reply.resize(length);
    return code;
}

int Decode(const char* hex)
{
    Bytes reply = BytesOf(hex);
    return Decode(reply);
}

Bytes Pack63(const char* text)
{
    card::CNoOBUReIssueData record;
    record.Parse(text);
    Bytes out(63);
    int length = 0;
    record.Pack(out.data(), &length);
    EXPECT_EQ(length, 63);
    return out;
}

Bytes Pack45(const char* text)
{
    card::CIssueData record;
    record.ParseIssueRecord(text);
    Bytes out(45);
    int length = 0;
    record.BuildIssueRecord45(out.data(), &length);
    EXPECT_EQ(length, 45);
    return out;
}

const char* const kBuiltIn = "2222222222222222,1111111111111111,01,00,50,16,6194,20050101,20070101,01,0,0,";

}  // namespace

TEST(CardStatus, StatusWordsAndLengths)
{
    EXPECT_EQ(Decode("90 00"), card::kStatusDone);
    EXPECT_EQ(Decode("6E 00"), card::kStatus6E00);
    EXPECT_EQ(Decode("69 85"), card::kStatus6985);
    EXPECT_EQ(Decode("6A 82"), card::kStatusOther);
    EXPECT_EQ(Decode(""), card::kStatusNoReply);
    EXPECT_EQ(Decode("90"), card::kStatusOther);
    EXPECT_EQ(Decode("01 02 90 00"), card::kStatusData);
    EXPECT_EQ(Decode("01 02 6A 82"), card::kStatusData) << "a reply with data reads as data";
}

TEST(CardStatus, LeadingInstructionByteIsDroppedBeforeDecoding)
{
    Bytes reply = BytesOf("1C 90 00");
    EXPECT_EQ(Decode(reply), card::kStatusDone);
    EXPECT_EQ(HexOf(reply), "90 00");

    reply = BytesOf("1C 69 85");
    EXPECT_EQ(Decode(reply), card::kStatus6985);

    reply = BytesOf("1C 04 22 90 00");
    EXPECT_EQ(Decode(reply), card::kStatusData);
    EXPECT_EQ(HexOf(reply), "04 22 90 00");

    // The byte after the shortened reply reads as cleared, not as a copy.
    Bytes buffer = BytesOf("1C 04 22 90 00 00 00");
    size_t length = 5;
    card::DecodeStatus(buffer.data(), length);
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(HexOf(buffer), "04 22 90 00 00 00 00");

    EXPECT_EQ(Decode("1C 00"), card::kStatusOther) << "two bytes are a status word, whatever the first";
}

TEST(IssueRecords, BuiltInReIssueRecord)
{
    const Bytes expected = BytesOf(
        "04 2222222222222222 1111111111111111 F8"
        " 01 00 50 16 6194 20050101 20070101 01"
        " 0000000000000000000000000000000000000000 00000000000000000000");
    ASSERT_EQ(expected.size(), 63u);
    EXPECT_EQ(HexOf(Pack63(kBuiltIn)), HexOf(expected));
    EXPECT_TRUE(card::CNoOBUReIssueData::CheckReIssueText(kBuiltIn));
}

TEST(IssueRecords, FieldPacking)
{
    // Field 8 is hexadecimal: 0A gives 0A; a lower-case pair packs by the
    // arithmetic (0a gives 2A), and is written so.
    EXPECT_EQ(Pack45("01,00,50,16,6194,20050101,20070101,0A,0,0,")[14], 0x0A);
    EXPECT_EQ(Pack45("01,00,50,16,6194,20050101,20070101,0a,0,0,")[14], 0x2A);
    EXPECT_TRUE(card::CIssueData::CheckIssueText("01,00,50,16,6194,20050101,20070101,0A,0,0,"));
    EXPECT_TRUE(card::CIssueData::CheckIssueText("01,00,50,16,6194,20050101,20070101,0a,0,0,"));

    // Each parse starts from a cleared record.
    card::CIssueData record;
    Bytes out(45);
    int length = 0;
    record.ParseIssueRecord("01,00,50,16,6194,20050101,20070101,FF,0,0,");
    record.BuildIssueRecord45(out.data(), &length);
    EXPECT_EQ(out[14], 0xFF);
    record.ParseIssueRecord("01,00,50,16,6194,20050101,20070101,,0,0,");
    record.BuildIssueRecord45(out.data(), &length);
    EXPECT_EQ(out[14], 0x00);

    // Seven digits in field 6: the field stays zero, and the text is written.
    const Bytes odd = Pack45("01,00,50,16,6194,2005010,20070101,01,0,0,");
    EXPECT_EQ(HexOf(Bytes(odd.begin() + 6, odd.begin() + 10)), "00 00 00 00");
    EXPECT_TRUE(card::CIssueData::CheckIssueText("01,00,50,16,6194,2005010,20070101,01,0,0,"));

    // A re-issue text with only the two numbers leaves the issue record zero.
    const Bytes numbersOnly = Pack63("2222222222222222,1111111111111111,");
    EXPECT_EQ(Bytes(numbersOnly.begin() + 18, numbersOnly.end()), Bytes(45, 0));
    EXPECT_TRUE(card::CNoOBUReIssueData::CheckReIssueText("2222222222222222,1111111111111111,"));
}

TEST(IssueRecords, LongItemsStayInsideTheirField)
{
    // 42 digits in field 9 (20 bytes): cut at the field, field 10 packed after it.
    const char* text = "01,00,50,16,6194,20050101,20070101,01,"
                       "999999999999999999999999999999999999999999,12345678901234567890,";
    const Bytes record = Pack45(text);
    EXPECT_EQ(Bytes(record.begin() + 15, record.begin() + 35), Bytes(20, 0x99));
    EXPECT_EQ(HexOf(Bytes(record.begin() + 35, record.end())), "12 34 56 78 90 12 34 56 78 90");
    EXPECT_FALSE(card::CIssueData::CheckIssueText(text));

    // 22 digits in the last field would run past the record; cut, and refused.
    card::CIssueData last;
    EXPECT_EQ(last.ParseIssueRecord("01,00,50,16,6194,20050101,20070101,01,0,1234567890123456789012,"), 1);
    EXPECT_FALSE(card::CIssueData::CheckIssueText("01,00,50,16,6194,20050101,20070101,01,0,1234567890123456789012,"));

    // An 18-digit re-issue number is cut to its 8 bytes.
    const Bytes cut = Pack63("222222222222222233,1111111111111111,01,00,50,16,6194,20050101,20070101,01,0,0,");
    EXPECT_EQ(Bytes(cut.begin() + 1, cut.begin() + 9), Bytes(8, 0x22));
    EXPECT_EQ(Bytes(cut.begin() + 9, cut.begin() + 17), Bytes(8, 0x11));
}

TEST(IssueRecords, OnlyTextsThatWouldRunPastAFieldDoNotFit)
{
    // Every text packs into its record as it is, except an even item longer
    // than its field, which would be written on past it.
    for (const char* text : {"01,00,50,16,6194,20050101,20070101,01,0,0,",
                             "01,00,50,16,6194,20050101,20070101,01,0,0,extra",
                             "01,00,50,16,6194,20050101,20070101,01,0,0", "01,00,50,16,6194,20050101,20070101,01,0,",
                             "01,00,5X,16,6194,20050101,20070101,01,0,0,", "01,00,50,16,619,20050101,20070101,01,0,0,",
                             "012,00,50,16,6194,20050101,20070101,01,0,0,", "",
                             "01,00,50,16,6194,20050101,20070101,01,0,12345678901234567890123"})
        EXPECT_TRUE(card::CIssueData::CheckIssueText(text)) << text;
    for (const char* text : {"0100,00,50,16,6194,20050101,20070101,01,0,0,",
                             "01,00,50,16,6194,2005010101,20070101,01,0,0,",
                             "01,00,50,16,6194,20050101,20070101,0101,0,0,",
                             "01,00,50,16,6194,20050101,20070101,01,0,1234567890123456789012,"})
        EXPECT_FALSE(card::CIssueData::CheckIssueText(text)) << text;
    EXPECT_TRUE(card::CNoOBUReIssueData::CheckReIssueText("22222222222222A2,1111111111111111,01,00,50,16,6194,"
                                                          "20050101,20070101,01,0,0,"));
    EXPECT_TRUE(card::CNoOBUReIssueData::CheckReIssueText("2222222222222222,"));
    EXPECT_FALSE(card::CNoOBUReIssueData::CheckReIssueText("222222222222222222,1111111111111111,"));
    EXPECT_FALSE(card::CNoOBUReIssueData::CheckReIssueText("2222222222222222,111111111111111111,"));
    EXPECT_FALSE(card::CNoOBUReIssueData::CheckReIssueText("2222222222222222,1111111111111111,0100,"));
}

TEST(OBUNumbers, ParseAndPack)
{
    card::COBUNumber numbers;
    numbers.Parse("2222222222222222,1111111111111111,");
    EXPECT_EQ(numbers.Count(), 2u);
    numbers.Parse("2222222222222222,1111111111111111");
    EXPECT_EQ(numbers.Count(), 1u) << "the number without its comma is not queued";
    numbers.Parse("1234567890123456789012345678901234567890");
    EXPECT_EQ(numbers.Count(), 0u);
    numbers.Parse("6194000000000001,12345678901234567");
    EXPECT_EQ(numbers.Count(), 1u);

    uint8_t out[9] = {0, 0, 0, 0, 0, 0, 0, 0, 0xEE};
    ASSERT_EQ(numbers.GetNext(out), 1);
    EXPECT_EQ(HexOf(Bytes(out, out + 9)), "61 94 00 00 00 00 00 01 EE");
    EXPECT_EQ(numbers.GetNext(out), 0);
    EXPECT_EQ(out[8], 0xEE);

    // Any 16 characters are a number, packed by the same arithmetic.
    numbers.Parse("2222222222222222,,11111111111111A1,");
    EXPECT_EQ(numbers.Count(), 2u);
    numbers.GetNext(out);
    ASSERT_EQ(numbers.GetNext(out), 1);
    EXPECT_EQ(HexOf(Bytes(out, out + 8)), "11 11 11 11 11 11 11 11");
}

TEST(Receipt, DateTextHasNoLeadingZeros)
{
    std::tm t = FixedTime();
    EXPECT_EQ(ReceiptDateText(t), "2024.3.5 9:7:0");
    t.tm_mon = 11;
    t.tm_mday = 31;
    t.tm_hour = 23;
    t.tm_min = 59;
    t.tm_sec = 58;
    EXPECT_EQ(ReceiptDateText(t), "2024.12.31 23:59:58");
}

TEST(Receipt, AmountLine)
{
    const auto lines = ReceiptLines("15000", "2024.3.5 9:7:0");
    ASSERT_EQ(lines.size(), 25u);
    EXPECT_EQ(lines[8].number, 8);
    // " 금     액  :  " 15000 "원정", code page 949.
    EXPECT_EQ(HexOf(Bytes(lines[8].bytes.begin(), lines[8].bytes.end())),
              HexOf(BytesOf("20 B1DD 2020202020 BED7 2020 3A 2020 3135303030 BFF8 C1A4")));
    EXPECT_EQ(ReceiptLines("", "x")[8].bytes, std::string(" 금     액  :  원정"));
}
