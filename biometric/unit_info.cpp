#include "biometric/unit_info.h"

#include <cstring>
#include <string>

#include "biometric/biu_message_box.h"
#include "biometric/biu_text.h"

namespace {

constexpr uint8_t kIssued = 1;
constexpr uint8_t kIssuedElsewhere = 2;
constexpr size_t kUserRecords = 4;
constexpr size_t kUserRecordSize = 18;
constexpr size_t kFirstUserRecord = 37;

bool RecordInUse(const uint8_t* record)
{
    for (size_t i = 1; i <= 8; ++i)
        if (record[i] != 0) return true;
    return false;
}

}  // namespace

UnitInfoVerdict DescribeUnitInfo(bool answered, const uint8_t* d)
{
    UnitInfoVerdict verdict;
    if (!answered) {
        verdict.text = "0";
        verdict.boxText = "생체인식기의 문제로 정보조회를 할 수 없습니다.(생체인식기를 뺐다 다시 연결하세요.)";
        verdict.boxCaption = "통신불량";
        return verdict;
    }
    if (d[0] != 0 || d[1] != 0) {
        verdict.text = "0";
        verdict.boxText = "BIU 정보조회를 할 수 없습니다.";
        verdict.boxCaption = "확인";
        return verdict;
    }
    if (d[2] == kIssuedElsewhere) {
        verdict.text = "2";
        verdict.boxText = "등록된 발급 번호가 다릅니다. 확인 후 다시 실행하세요.";
        verdict.boxCaption = "확인";
        return verdict;
    }

    std::string text = "1";
    text += biu::Digit(d[2]);
    text += biu::Digit(d[3]);
    biu::AppendPackedDigits(text, d + 4, 16);
    biu::AppendHexDigits(text, d + 20, 16);

    if (d[2] != kIssued) {
        text.append(140, '0');
        verdict.boxText = "미발급 된 BIU 입니다.";
        verdict.boxCaption = "확인";
    } else {
        size_t inUse = 0;
        for (size_t g = 0; g < kUserRecords; ++g)
            if (RecordInUse(d + kFirstUserRecord + kUserRecordSize * g)) ++inUse;
        text += static_cast<char>('0' + inUse);
        for (size_t g = 0; g < kUserRecords; ++g) {
            const uint8_t* record = d + kFirstUserRecord + kUserRecordSize * g;
            text += biu::Digit(record[0]);
            biu::AppendPackedDigits(text, record + 1, 8);
            biu::AppendPackedDigits(text, record + 9, 9);
        }
    }
    verdict.text = text;
    return verdict;
}

CGetBIUBIUInfo::CGetBIUBIUInfo(const CHidDeviceRecord& device, const uint8_t productKey[16])
    : CBiuTransaction(device, productKey, kBiuUnitInfoProfile)
{
}

CGetBIUBIUInfo::~CGetBIUBIUInfo() = default;

CString CGetBIUBIUInfo::GetBIUInfo()
{
    // Key material is withheld from the traces, as in every exchange.
    m_Trace.Withheld("[프로덕트 키]", sizeof m_ProductNum);
    Run();
    m_Services.clock->SleepMs(kPauseAfterExchangeMs);

    // A broken answer (one that could not be decrypted) is no answer.
    const UnitInfoVerdict verdict = DescribeUnitInfo(IsDone() && IsAnswerUsable(), m_AnswerData);
    if (verdict.boxText) ShowBiuMessageBox(nullptr, verdict.boxText, verdict.boxCaption, kBiuBoxOk);
    return verdict.text;
}

const char* CGetBIUBIUInfo::StartBanner() const
{
    return "================> Start : Get BIU Info <==================\n";
}

void CGetBIUBIUInfo::SendReport(const uint8_t* report)
{
    m_Trace.Labelled("[암호화된 요청정보]\n", report, ReportLength());
    CBiuTransaction::SendReport(report);
}

void CGetBIUBIUInfo::OnHandshakeRefused()
{
    // Read as a unit issued under another number.
    std::memset(m_AnswerData, 0, sizeof m_AnswerData);
    m_AnswerData[2] = 2;
}

void CGetBIUBIUInfo::TraceRandomKeyRequest(const uint8_t* plain, const uint8_t* cipher)
{
    m_Trace.Withheld("[AES 암호화 키]\n", sizeof m_AesKey);
    m_Trace.Labelled("[RandomKey 정보 요청-암호화전]\n", plain, MessageHead::kSize);
    m_Trace.Labelled("[Randomkey 정보 요청-암호화후]", cipher, MessageHead::kSize);
}

void CGetBIUBIUInfo::TraceRandomKeyAnswer(const uint8_t* /*received*/, const uint8_t* plain)
{
    m_Trace.Label("[Return 되는 처리 결과 Get RandomKey]");
    m_Trace.HeadLines(plain);
}

void CGetBIUBIUInfo::TraceAnswerDecrypted(const uint8_t* plain, size_t n)
{
    m_Trace.Labelled("[BIU 정보 요청-결과값->복호화]", plain + MessageHead::kSize, n - MessageHead::kSize);
}
