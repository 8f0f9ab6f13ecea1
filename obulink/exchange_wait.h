// What the request thread's wait of a device exchange stands on: a clock and
// a message pump, both replaceable so that tests run the long waits fast.
//
//   ExchangeClock   milliseconds and sleeps; the system's is the monotonic
//                   clock (framework/clock.h). Tests use a scaled clock.
//   MessagePump     dispatches the calling thread's waiting window messages
//                   (PeekMessage with remove, TranslateMessage,
//                   DispatchMessage in the Windows builds) and, when none is
//                   waiting, idles at most the given time for one to come.
//                   Once the thread has been asked to quit (WM_QUIT) it only
//                   idles, and the quit stays queued for the thread's own loop.
//
// WaitForFlag is the wait loop every transaction uses (OBU, MFSN read and the
// biometric unit alike).
#pragma once

#include <atomic>
#include <cstdint>

class ExchangeClock {
public:
    virtual ~ExchangeClock() = default;
    virtual uint64_t NowMs() = 0;
    virtual void SleepMs(uint32_t milliseconds) = 0;
};

class MessagePump {
public:
    virtual ~MessagePump() = default;
    virtual void DispatchPending(uint32_t idleMs) = 0;
};

ExchangeClock& SystemExchangeClock();
MessagePump& SystemMessagePump();  // defined per platform

// The services an exchange runs on; the defaults are the system's.
struct ExchangeServices {
    ExchangeClock* clock = &SystemExchangeClock();
    MessagePump* pump = &SystemMessagePump();
};

// Waits until `flag` is set or `limitMs` have passed by `clock`, dispatching
// the thread's window messages meanwhile. Returns the flag's last value.
bool WaitForFlag(const std::atomic<bool>& flag, uint32_t limitMs, const ExchangeServices& services);
