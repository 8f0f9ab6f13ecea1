// DeviceLock: the lock a controller keeps on its device (the OBU, the
// fingerprint unit) while one command uses it.
//
// It knows which thread holds it. Take() on another thread waits until the
// holder lets go, so that requests on different connections take turns. Take()
// on the thread that holds it already is refused at once (an empty Hold): a
// thread can only get there from inside the holding command, through the
// window messages that its exchange waits, screens and message boxes dispatch
// (a click on the test panel, a tray command). Such a command must not reach
// the device, the record or the state the holding command is using; it answers
// as for a device that cannot be opened.
//
// The lock is not recursive by design: a command that runs several steps under
// one hold hands the Hold to each step (see CObuSelfIssueCtrl).
#pragma once

#include <condition_variable>
#include <mutex>
#include <thread>

class DeviceLock {
public:
    // One hold of the lock; empty when it was refused. Let go when destroyed.
    class Hold {
    public:
        Hold() = default;
        Hold(Hold&& other) noexcept : m_lock(other.m_lock) { other.m_lock = nullptr; }
        Hold& operator=(Hold&& other) noexcept;
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        ~Hold() { Release(); }

        explicit operator bool() const { return m_lock != nullptr; }
        bool Holds(const DeviceLock& lock) const { return m_lock == &lock; }
        void Release();

    private:
        friend class DeviceLock;
        explicit Hold(DeviceLock& lock) : m_lock(&lock) {}
        DeviceLock* m_lock = nullptr;
    };

    DeviceLock() = default;
    DeviceLock(const DeviceLock&) = delete;
    DeviceLock& operator=(const DeviceLock&) = delete;

    // Waits while another thread holds the lock; refused (an empty Hold) on
    // the thread that holds it.
    [[nodiscard]] Hold Take();
    bool HeldByThisThread() const;

private:
    void Give();

    mutable std::mutex m_mutex;
    std::condition_variable m_free;
    bool m_held = false;
    std::thread::id m_owner;
};
