// CRegistBIUInfo: writes a toll-reduction holder's information into the unit
// (command 0x30, web id 71): a 96-byte request carrying a 16-digit head field
// and four numbered entries, all packed two digits a byte. The page is
// answered "" whatever the unit does.
//
// The holder text of the page (152 characters used):
//   characters 0-15              head field (16 digits)
//   16 + 34g .. 31 + 34g         entry g, first field (16 digits), g = 0..3
//   32 + 34g .. 39 + 34g         entry g, second field (8)
//   40 + 34g .. 47 + 34g         entry g, third field (8)
//   48 + 34g .. 49 + 34g         entry g, fourth field (2)
// Request: 0x30, bytes 1-4 zero, Data Size 00 00 50, a fresh AppRandom, the
// packed head field in bytes 16-23, then from byte 24 every 18 bytes one
// entry: its number (1 to 4) and its four fields packed (8, 4, 4, 1 bytes).
#pragma once

#include <cstddef>
#include <cstdint>

#include "biometric/single_report_transaction.h"
#include "framework/cstring.h"

struct BiuHolderEntry {
    char first[20] = {};
    char second[20] = {};
    char third[20] = {};
    char fourth[5] = {};
};

struct BiuHolderFields {
    char head[20] = {};
    BiuHolderEntry entries[4];
};

inline constexpr size_t kBiuHolderTextLength = 152;
inline constexpr size_t kBiuHolderRequestLength = 96;

// Cuts the page's text into the fields; false (fields untouched) when the
// text is shorter than the 152 characters used.
bool HolderFieldsFromText(const CString& text, BiuHolderFields& fields);

// Request bytes 16-95 (the head field and the four entries), packed.
void PackHolderRecord(const BiuHolderFields& fields, uint8_t* message);

class CRegistBIUInfo : public CBiuSingleReportTransaction {
public:
    CRegistBIUInfo(const CHidDeviceRecord& device, const uint8_t productKey[16]);
    ~CRegistBIUInfo() override;

    // The holder fields from the page's text; false when the text is too short.
    bool SetHolderText(const CString& text);
    void SetHolderFields(const BiuHolderFields& fields);

    // Runs the exchange when holder fields were given (otherwise sends
    // nothing) and returns "".
    CString RegistBIUInfo();

protected:
    size_t ComposeCommand(uint8_t* message) override;

private:
    BiuHolderFields m_Holder;
    bool m_bHolderSet = false;
};
