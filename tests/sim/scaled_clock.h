// ScaledClock: an ExchangeClock that runs `scale` times faster than real time,
// so that the exchange's long limits (10000 ms waits, 1000 ms reads) take a
// fraction of a second in tests. Use the same scale for SimHidPlatform.
// RecordingClock keeps the pauses too, so that tests can pin them.
#pragma once

#include <cstdint>
#include <mutex>
#include <vector>

#include "framework/clock.h"
#include "obulink/exchange_wait.h"

class ScaledClock : public ExchangeClock {
public:
    explicit ScaledClock(double scale) : m_scale(scale), m_start(corvane::MonotonicMs()) {}

    uint64_t NowMs() override
    {
        return static_cast<uint64_t>((corvane::MonotonicMs() - m_start) * m_scale);
    }
    void SleepMs(uint32_t milliseconds) override
    {
        corvane::SleepMs(static_cast<uint32_t>(milliseconds / m_scale));
    }

private:
    double m_scale;
    uint64_t m_start;
};

// A ScaledClock that keeps every pause asked of it.
class RecordingClock : public ScaledClock {
public:
    using ScaledClock::ScaledClock;

    void SleepMs(uint32_t milliseconds) override
    {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_sleeps.push_back(milliseconds);
        }
        ScaledClock::SleepMs(milliseconds);
    }
    std::vector<uint32_t> Sleeps() const
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_sleeps;
    }

private:
    mutable std::mutex m_lock;
    std::vector<uint32_t> m_sleeps;
};
