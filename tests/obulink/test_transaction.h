// A transaction for the tests of the secure exchange: a command byte and a
// 16- or 80-byte message whose data bytes follow a pattern, with its steps
// opened up so that tests can drive them one by one.
#pragma once

#include <cstring>
#include <initializer_list>
#include <mutex>
#include <string>
#include <vector>

#include "obulink/secure_exchange.h"

class FixedRandom : public AppRandomSource {
public:
    // Each value is 8 bytes; the last one repeats.
    FixedRandom(std::initializer_list<const uint8_t*> values)
    {
        for (const uint8_t* v : values) m_values.emplace_back(v, v + 8);
    }
    void Draw(uint8_t out[8]) override
    {
        const auto& v = m_values[m_next < m_values.size() ? m_next : m_values.size() - 1];
        std::memcpy(out, v.data(), 8);
        ++m_next;
    }

private:
    std::vector<std::vector<uint8_t>> m_values;
    size_t m_next = 0;
};

class RecordingTraceSink : public TraceSink {
public:
    void Line(const std::string& text) override
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_lines.push_back(text);
    }
    std::vector<std::string> Lines() const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_lines;
    }

private:
    mutable std::mutex m_lock;
    std::vector<std::string> m_lines;
};

class TestTransaction : public CSecureExchange {
public:
    TestTransaction(const CHidDeviceRecord& device, const uint8_t product[16], uint8_t command, size_t length,
                    const ExchangeProfile& profile = kObuExchangeProfile)
        : CSecureExchange(device, product, profile), m_command(command), m_length(length) {}

    using CSecureExchange::RequestRandomKey;
    using CSecureExchange::SendCommand;

    const uint8_t* AppRandom() const { return m_AppRandom; }
    const uint8_t* DeviceRandom() const { return m_DeviceRandom; }
    const uint8_t* SendKey() const { return m_SendKey; }
    const uint8_t* RecvKey() const { return m_RecvKey; }
    void SetDeviceRandom(const uint8_t d[8]) { std::memcpy(m_DeviceRandom, d, 8); m_bRandomKnown = 1; }
    void SetAppRandom(const uint8_t a[8]) { std::memcpy(m_AppRandom, a, 8); }
    void AllowSending() { m_Channel.AllowSendingWithoutReaderForTests(); }
    // The wait has ended: nothing more is sent.
    void StopSending() { m_Channel.StopRunning(); }
    // The random-key request under the handshake send key: from now on its
    // answer is outstanding.
    void AskRandomKey()
    {
        uint8_t key[32];
        HandshakeSendKey(key, m_ProductNum);
        RequestRandomKey(key);
    }
    bool RandomKnown() const { return m_bRandomKnown != 0; }

    // Data bytes 16.. of the command message: 0x80, 0x81, ...
    static uint8_t DataByte(size_t i) { return static_cast<uint8_t>(0x80 + i); }

protected:
    size_t ComposeCommand(uint8_t* message) override
    {
        message[0] = m_command;
        for (size_t i = 16; i < m_length; ++i) message[i] = DataByte(i - 16);
        return m_length;
    }
    const char* StartBanner() const override { return "================> Start : Test <=================="; }
    const char* FinishBanner() const override { return "======> Finish Test Transaction <======"; }

private:
    uint8_t m_command;
    size_t m_length;
};
