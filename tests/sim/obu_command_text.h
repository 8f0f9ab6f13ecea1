// The page's command text of the OBU write commands, built from named fields
// (the way the issuing page lays them out), and what the OBU should receive
// and answer for them. Written from the field tables, not from obulink.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ObuFields {
    std::string field1 = "1234567890123456";  // 16 digits
    std::string field2 = "6543210987654321";  // 16 digits
    std::string field3 = "0123456789";        // 10 digits
    std::string field4 = "20261208";          // 8 digits
    std::string field5 = "20311207";          // 8 digits
    std::string field6 = "7";                 // 1 digit
    std::string field7 = "3F";                // 2 hexadecimal digits
    std::string flags;                        // 5 characters, information change only

    // Fields with "_" between them (any separator is allowed).
    std::string Text(char separator = '_') const
    {
        std::string t = field1 + separator + field2 + separator + field3 + separator + field4 + separator + field5 +
                        separator + field6 + separator + field7;
        if (!flags.empty()) t += separator + flags;
        return t;
    }

    // The 33-byte record the OBU receives: kind, field 1, field 2 (two
    // characters a byte by their low four bits, packed decimal for digits),
    // flags, field 6, fields 3 to 5 (packed), field 7 as one byte.
    std::vector<uint8_t> Record(uint8_t kind, uint8_t flagByte) const
    {
        std::vector<uint8_t> r;
        r.push_back(kind);
        Pack(field1, r);
        Pack(field2, r);
        r.push_back(flagByte);
        r.push_back(static_cast<uint8_t>(field6[0] & 0x0F));
        Pack(field3, r);
        Pack(field4, r);
        Pack(field5, r);
        r.push_back(Field7Byte());
        return r;
    }

    // Field 7's byte: each character's code less 55 from 0x41 to 0x7F, else
    // less 48; high digit times 16 plus low digit, kept to eight bits.
    uint8_t Field7Byte() const
    {
        const auto value = [](char c) {
            const int code = static_cast<unsigned char>(c);
            return code >= 0x41 && code <= 0x7F ? code - 55 : code - 48;
        };
        return static_cast<uint8_t>(value(field7[0]) * 16 + value(field7[1]));
    }

    // The information text the OBU's answer of that record gives.
    std::string InformationText(char kindDigit) const
    {
        // The OBU keeps field 7 as its byte, read back in upper-case hexadecimal.
        static const char digits[] = "0123456789ABCDEF";
        const uint8_t byte = Field7Byte();
        const std::string hex7 = {digits[byte >> 4], digits[byte & 0x0F]};
        return std::string(1, kindDigit) + "_" + field1 + "_" + field2 + "_" + field3 + "_" + field4 + "_" + field5 +
               "_" + field6 + "_" + hex7;
    }

private:
    static void Pack(const std::string& characters, std::vector<uint8_t>& out)
    {
        for (size_t i = 0; i + 1 < characters.size(); i += 2)
            out.push_back(static_cast<uint8_t>(((characters[i] & 0x0F) << 4) | (characters[i + 1] & 0x0F)));
    }
};
