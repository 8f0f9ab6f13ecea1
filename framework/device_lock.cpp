#include "framework/device_lock.h"

namespace {

thread_local bool t_windowThread = false;

}  // namespace

DeviceLock::Hold& DeviceLock::Hold::operator=(Hold&& other) noexcept
{
    if (this != &other) {
        Release();
        m_lock = other.m_lock;
        other.m_lock = nullptr;
    }
    return *this;
}

void DeviceLock::Hold::Release()
{
    if (m_lock) m_lock->Give();
    m_lock = nullptr;
}

void DeviceLock::MarkWindowThread()
{
    t_windowThread = true;
}

DeviceLock::Hold DeviceLock::Take()
{
    const std::thread::id self = std::this_thread::get_id();
    std::unique_lock<std::mutex> guard(m_mutex);
    if (m_held && (m_owner == self || t_windowThread)) return Hold();
    m_free.wait(guard, [this] { return !m_held; });
    m_held = true;
    m_owner = self;
    return Hold(*this);
}

DeviceLock::Hold DeviceLock::TryTake()
{
    std::lock_guard<std::mutex> guard(m_mutex);
    if (m_held) return Hold();
    m_held = true;
    m_owner = std::this_thread::get_id();
    return Hold(*this);
}

bool DeviceLock::HeldByThisThread() const
{
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_held && m_owner == std::this_thread::get_id();
}

void DeviceLock::Give()
{
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_held = false;
        m_owner = std::thread::id();
    }
    m_free.notify_one();
}
