#include "biometric/single_report_transaction.h"

namespace {

const SingleReportTraceLabels kInitiateLabels = {
    "================> Start : initiate BIU <==================",
    nullptr,
    nullptr,
    "[Randomkey 정보 요청결과 - 암호문]",
    "[Randomkey 정보 요청결과 - 복호문]",
    "[Init BIU 정보 요청]",
    "[Init BIU 정보 요청 - 암호문]",
    "[정보 요청 전체 Data]",
};

}  // namespace

const SingleReportTraceLabels kDeletionTraceLabels = {
    "================> Start : Delete User Info <==================",
    "[RandomKey 정보 요청]",
    "[RandomKey 정보 요청-암호화]",
    "[RandomKey 정보 요청 결과 - 암호문]",
    "[RandomKey 정보 요청 결과 - 복호문]",
    nullptr,
    nullptr,
    "[요청 메시지 전체]",
};

CBiuSingleReportTransaction::CBiuSingleReportTransaction(const CHidDeviceRecord& device,
                                                         const uint8_t productKey[16],
                                                         const SingleReportTraceLabels& labels,
                                                         const ExchangeProfile& profile)
    : CBiuTransaction(device, productKey, profile), m_Labels(labels)
{
}

void CBiuSingleReportTransaction::SendReport(const uint8_t* report)
{
    UpperCaseTrace().Labelled(m_Labels.reportWritten, report, ReportLength());
    CBiuTransaction::SendReport(report);
}

void CBiuSingleReportTransaction::TraceReceivedReport(const uint8_t* report)
{
    m_Trace.Label("[수신된 헤더 정보]");
    m_Trace.PacketHeaderLines(report, 2);
}

void CBiuSingleReportTransaction::TraceRandomKeyRequest(const uint8_t* plain, const uint8_t* cipher)
{
    if (m_Labels.randomKeyRequest) m_Trace.Labelled(m_Labels.randomKeyRequest, plain, kTracedBytes);
    if (m_Labels.randomKeyRequestCipher)
        m_Trace.Labelled(m_Labels.randomKeyRequestCipher, cipher, MessageHead::kSize);
}

void CBiuSingleReportTransaction::TraceRandomKeyAnswer(const uint8_t* received, const uint8_t* plain)
{
    static_assert(kRandomKeyAnswerView >= kTracedBytes, "the answer's view holds the traced bytes");
    m_Trace.Labelled(m_Labels.randomKeyAnswerCipher, received, kTracedBytes);
    m_Trace.Labelled(m_Labels.randomKeyAnswerPlain, plain, kTracedBytes);
}

void CBiuSingleReportTransaction::TraceCommand(const uint8_t* plain, size_t n, const uint8_t* cipher)
{
    if (m_Labels.command) m_Trace.Labelled(m_Labels.command, plain, n);
    if (m_Labels.commandCipher) m_Trace.Labelled(m_Labels.commandCipher, cipher, n);
}

CInitiateBIU::CInitiateBIU(const CHidDeviceRecord& device, const uint8_t productKey[16])
    : CBiuSingleReportTransaction(device, productKey, kInitiateLabels, kBiuInitiateProfile)
{
}

CInitiateBIU::~CInitiateBIU() = default;

CString CInitiateBIU::InitiateBIU()
{
    Run();
    return "";
}

CUserDeletion::CUserDeletion(const CHidDeviceRecord& device, const uint8_t productKey[16], uint8_t command)
    : CBiuSingleReportTransaction(device, productKey, kDeletionTraceLabels), m_Command(command)
{
}

CString CUserDeletion::DeleteUserInfo(uint8_t user)
{
    // The number goes to the unit as it came (the unit has users 1 to 4 and
    // judges any other number itself).
    m_UserIndex = user;
    Run();
    return "";
}

CDelete::~CDelete() = default;
CDeleteUser::~CDeleteUser() = default;
