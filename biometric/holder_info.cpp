#include "biometric/holder_info.h"

#include <cstring>

#include "biometric/biu_text.h"

namespace {

constexpr size_t kHeadDigits = 16;
constexpr size_t kEntryTextStride = 34;
constexpr size_t kFirstDigits = 16, kSecondDigits = 8, kThirdDigits = 8, kFourthDigits = 2;

constexpr size_t kHeadOffset = 16;
constexpr size_t kFirstEntryOffset = 24;
constexpr size_t kEntryStride = 18;
constexpr uint8_t kHolderDataSize = 0x50;

SingleReportTraceLabels HolderTraceLabels()
{
    SingleReportTraceLabels labels = kDeletionTraceLabels;
    labels.startBanner = "================> Start : Regist BIU Info <==================";
    return labels;
}

void CopyField(char* field, size_t width, const CString& text, size_t first, size_t count)
{
    std::memset(field, 0, width);
    std::memcpy(field, text.c_str() + first, count);
}

}  // namespace

bool HolderFieldsFromText(const CString& text, BiuHolderFields& fields)
{
    if (text.GetLength() < kBiuHolderTextLength) return false;
    CopyField(fields.head, sizeof fields.head, text, 0, kHeadDigits);
    for (size_t g = 0; g < 4; ++g) {
        BiuHolderEntry& entry = fields.entries[g];
        const size_t at = kHeadDigits + kEntryTextStride * g;
        CopyField(entry.first, sizeof entry.first, text, at, kFirstDigits);
        CopyField(entry.second, sizeof entry.second, text, at + 16, kSecondDigits);
        CopyField(entry.third, sizeof entry.third, text, at + 24, kThirdDigits);
        CopyField(entry.fourth, sizeof entry.fourth, text, at + 32, kFourthDigits);
    }
    return true;
}

void PackHolderRecord(const BiuHolderFields& fields, uint8_t* message)
{
    biu::PackDigitPairs(fields.head, kHeadDigits, message + kHeadOffset);
    for (size_t g = 0; g < 4; ++g) {
        const BiuHolderEntry& entry = fields.entries[g];
        uint8_t* out = message + kFirstEntryOffset + kEntryStride * g;
        out[0] = static_cast<uint8_t>(g + 1);
        biu::PackDigitPairs(entry.first, kFirstDigits, out + 1);
        biu::PackDigitPairs(entry.second, kSecondDigits, out + 9);
        biu::PackDigitPairs(entry.third, kThirdDigits, out + 13);
        biu::PackDigitPairs(entry.fourth, kFourthDigits, out + 17);
    }
}

CRegistBIUInfo::CRegistBIUInfo(const CHidDeviceRecord& device, const uint8_t productKey[16])
    : CBiuSingleReportTransaction(device, productKey, HolderTraceLabels(), kBiuHolderProfile)
{
}

CRegistBIUInfo::~CRegistBIUInfo() = default;

bool CRegistBIUInfo::SetHolderText(const CString& text)
{
    if (!HolderFieldsFromText(text, m_Holder)) return false;
    m_bHolderSet = true;
    return true;
}

void CRegistBIUInfo::SetHolderFields(const BiuHolderFields& fields)
{
    m_Holder = fields;
    m_bHolderSet = true;
}

CString CRegistBIUInfo::RegistBIUInfo()
{
    if (m_bHolderSet) Run();
    return "";
}

size_t CRegistBIUInfo::ComposeCommand(uint8_t* message)
{
    message[0] = kBiuRegistHolder;
    std::memset(message + 1, 0, MessageHead::kRandomOffset - 1);
    message[7] = kHolderDataSize;
    PackHolderRecord(m_Holder, message);
    return kBiuHolderRequestLength;
}
