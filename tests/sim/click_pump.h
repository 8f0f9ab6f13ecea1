// ClickPump: a MessagePump that, the first time a wait asks it to dispatch,
// runs the given action there (as the Windows pump runs a click on the test
// panel while a command waits on the main thread), and from then on only
// idles. The action may run commands of its own; their waits find the pump
// spent.
#pragma once

#include <cstdint>
#include <functional>
#include <utility>

#include "framework/clock.h"
#include "obulink/exchange_wait.h"

class ClickPump : public MessagePump {
public:
    explicit ClickPump(std::function<void()> click) : m_click(std::move(click)) {}

    void DispatchPending(uint32_t idleMs) override
    {
        if (m_click) {
            const std::function<void()> click = std::move(m_click);
            m_click = nullptr;
            click();
            return;
        }
        corvane::SleepMs(idleMs);
    }
    bool Clicked() const { return !m_click; }

private:
    std::function<void()> m_click;
};
