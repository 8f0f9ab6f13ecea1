#include "obulink/exchange_wait.h"

#include "framework/clock.h"

namespace {

// How long the wait idles when no window message is waiting: short enough that
// the done flag is seen at once, long enough that the wait does not spin a core.
constexpr uint32_t kIdleMs = 1;

class MonotonicExchangeClock : public ExchangeClock {
public:
    uint64_t NowMs() override { return corvane::MonotonicMs(); }
    void SleepMs(uint32_t milliseconds) override { corvane::SleepMs(milliseconds); }
};

}  // namespace

ExchangeClock& SystemExchangeClock()
{
    static MonotonicExchangeClock clock;
    return clock;
}

bool WaitForFlag(const std::atomic<bool>& flag, uint32_t limitMs, const ExchangeServices& services)
{
    const uint64_t start = services.clock->NowMs();
    while (services.clock->NowMs() - start < limitMs) {
        if (flag.load()) return true;
        services.pump->DispatchPending(kIdleMs);
    }
    return flag.load();
}
