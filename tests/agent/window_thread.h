// WindowThread: commands run on a thread of their own that is marked as the
// one owning the agent's windows (as the panel's and the tray's commands run
// on the agent's main thread), while the test holds a device on another.
#pragma once

#include <atomic>
#include <functional>
#include <thread>
#include <utility>

#include "framework/clock.h"
#include "framework/device_lock.h"

class WindowThread {
public:
    explicit WindowThread(std::function<void()> commands)
        : m_thread([this, commands = std::move(commands)] {
              DeviceLock::MarkWindowThread();
              commands();
              m_done = true;
          })
    {
    }
    ~WindowThread() { m_thread.join(); }
    WindowThread(const WindowThread&) = delete;
    WindowThread& operator=(const WindowThread&) = delete;

    // True once the commands are done, waiting for them at most `ms` (real time).
    bool DoneWithin(uint32_t ms)
    {
        for (uint32_t waited = 0; !m_done && waited < ms; waited += 5) corvane::SleepMs(5);
        return m_done;
    }

private:
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};
