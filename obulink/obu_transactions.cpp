#include "obulink/obu_transactions.h"

#include <cstring>

namespace {

const char kAnswerDataLabel[] = "[##################################################]";
const char kInformationTextLabel[] = "[@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@@]";

}  // namespace

CObuTransaction::CObuTransaction(const CHidDeviceRecord& device, const uint8_t productKey[16])
    : CSecureExchange(device, productKey, kObuExchangeProfile)
{
}

CString CObuTransaction::RunToText()
{
    const ExchangeOutcome outcome = Run();
    if (outcome != ExchangeOutcome::Succeeded) return OutcomeText(outcome, CString());
    return SuccessText();
}

CString CObuTransaction::SuccessText()
{
    const CString text = ObuInformationText(m_AnswerData);
    m_Trace.Labelled(kAnswerDataLabel, m_AnswerData, 64);
    m_Trace.Labelled(kInformationTextLabel, reinterpret_cast<const uint8_t*>(text.c_str()), text.GetLength());
    return text;
}

void CObuTransaction::SendReport(const uint8_t* report)
{
    if (TracesReports()) m_Trace.Labelled("[암호화된 요청정보]", report, m_Profile.layout.reportLength);
    CSecureExchange::SendReport(report);
}

void CObuTransaction::TraceAnswerReceived(const uint8_t* cipher, size_t n)
{
    if (TracesAnswerAsInformation()) m_Trace.Labelled("[OBU 정보 요청-결과값]", cipher, n);
}

void CObuTransaction::TraceAnswerDecrypted(const uint8_t* plain, size_t n)
{
    if (TracesAnswerAsInformation())
        m_Trace.Labelled("[OBU 정보 요청-결과값->복호화]", plain, n);
    else
        m_Trace.Labelled("[OBU 발급 요청-결과값->복호화]", plain + MessageHead::kSize, n - MessageHead::kSize);
}

CObuWriteTransaction::CObuWriteTransaction(const CHidDeviceRecord& device, const uint8_t productKey[16],
                                           uint8_t command, const ObuInfoArea& info, uint8_t flags)
    : CObuTransaction(device, productKey), m_OBUInfo(info), m_ChangeFlags(flags), m_command(command)
{
}

size_t CObuWriteTransaction::ComposeCommand(uint8_t* message)
{
    message[0] = m_command;
    PackObuRecord(m_command, m_OBUInfo, m_ChangeFlags, message + MessageHead::kSize);
    std::memset(message + MessageHead::kSize + kObuRecordSize, 0,
                kCommandLength - MessageHead::kSize - kObuRecordSize);
    return kCommandLength;
}

void CObuWriteTransaction::TraceCommand(const uint8_t* plain, size_t /*n*/, const uint8_t* /*cipher*/)
{
    m_Trace.Labelled(RequestLabel(), plain, 64);
    m_Trace.Withheld("[AES 암호화 키]", sizeof m_AesKey);
}

void CObuWriteTransaction::TraceBeforeCommandReport(size_t /*reportIndex*/, const uint8_t* cipher)
{
    m_Trace.Labelled("[Put BIU INFO 정보 요청-암호문]", cipher, 63);
}

size_t CObuQueryTransaction::ComposeCommand(uint8_t* message)
{
    message[0] = m_command;
    return kCommandLength;
}

void CObuQueryTransaction::TraceCommand(const uint8_t* plain, size_t /*n*/, const uint8_t* cipher)
{
    m_Trace.Withheld("[AES 암호화 키]", sizeof m_AesKey);
    m_Trace.Labelled("[조회명령 암호화 전 ]", plain, 32);
    m_Trace.Labelled("[조회명령 암호화 후 ]", cipher, 32);
}

void CDoGetOBUinfo::TraceRandomKeyAnswer(const uint8_t* received, const uint8_t* plain)
{
    m_Trace.Labelled("[Randomkey 요청 받은 값]", received, kRandomKeyAnswerView);
    CSecureExchange::TraceRandomKeyAnswer(received, plain);
}

CString CDoResetOBU::SuccessText()
{
    m_Trace.Labelled(kAnswerDataLabel, m_AnswerData, 16);
    return CString();
}
