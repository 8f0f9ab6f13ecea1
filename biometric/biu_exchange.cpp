#include "biometric/biu_exchange.h"

#include <cstring>

void CBiuTransaction::FixedHandshakeRandom(uint8_t out[8])
{
    for (uint8_t i = 0; i < 8; ++i) out[i] = static_cast<uint8_t>(0x11 * (i + 1));
}

CBiuTransaction::CBiuTransaction(const CHidDeviceRecord& device, const uint8_t productKey[16],
                                 const ExchangeProfile& profile)
    : CSecureExchange(device, productKey, profile)
{
}

const char* CBiuTransaction::FinishBanner() const
{
    return "======> Finish Get UserInfor Transaction <======";
}

void CBiuTransaction::TraceAnswerHead(const uint8_t* plain)
{
    m_Trace.Label("[Return 되는 처리 결과]");
    m_Trace.HeadLines(plain);
}

size_t CBiuTransaction::ComposeShortRequest(uint8_t* message, uint8_t command, uint8_t param1Low)
{
    message[0] = command;
    std::memset(message + 1, 0, MessageHead::kRandomOffset - 1);
    message[2] = param1Low;
    return MessageHead::kSize;
}
