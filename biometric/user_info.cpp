#include "biometric/user_info.h"

#include <string>

#include "biometric/biu_text.h"

CString UserInfoText(const uint8_t* d)
{
    std::string text;
    text += static_cast<char>(d[2] + '0');
    for (size_t k = 3; k <= 12; k += 3) {
        text += static_cast<char>(d[k] + '0');
        biu::AppendPackedDigits(text, d + k + 1, 2);
    }
    // The page reads the text up to its first zero byte.
    return CString(text.c_str());
}

CBIUInquery::CBIUInquery(const CHidDeviceRecord& device, const uint8_t productKey[16])
    : CBiuTransaction(device, productKey, kBiuUserInfoProfile)
{
}

CBIUInquery::~CBIUInquery() = default;

CString CBIUInquery::GetUserInfo()
{
    Run();
    return UserInfoText(m_AnswerData);
}

const char* CBIUInquery::StartBanner() const
{
    return "================> Start : Get User Info <==================";
}

void CBIUInquery::SendReport(const uint8_t* report)
{
    CBiuTransaction::SendReport(report);
    if (!m_bRequestSent) {
        // The first report written is the random-key request.
        m_bRequestSent = true;
        m_Trace.Label("================> end : 정보조회 <==================");
    }
}

void CBIUInquery::TraceReceivedReport(const uint8_t* report)
{
    // The random-key answer's header shows two bytes of DataLength.
    const bool randomKeyAnswer = report[1] == HidPacketHeader::kFirstReport && !m_bRandomKnown;
    m_Trace.Label("[수신된 헤더 정보]");
    m_Trace.PacketHeaderLines(report, randomKeyAnswer ? 2 : 3);
}

void CBIUInquery::TraceCommand(const uint8_t* plain, size_t n, const uint8_t* cipher)
{
    m_Trace.Labelled("[Get User Info 정보 요청]", plain, n);
    m_Trace.Labelled("[Get User Info 정보 요청-암호화]", cipher, n);
}
