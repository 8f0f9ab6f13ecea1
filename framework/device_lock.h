// DeviceLock: the lock kept on one device (the OBU, the fingerprint unit, the
// issuing card) while one command uses it.
//
// It knows which thread holds it. Take() refuses at once (an empty Hold):
//  - on the thread that holds it already: a thread can only get there from
//    inside the holding command, through the window messages that its
//    exchange waits, screens and message boxes dispatch;
//  - on the thread that owns the agent's windows (MarkWindowThread) while
//    another thread holds it: the panel's and the tray's commands never wait
//    for a device that a page client's command is using, since the windows
//    would freeze meanwhile.
// A refused command must not reach the device, the record or the state that
// the holder is using; it answers as for a device that cannot be opened.
// Anywhere else Take() waits until the holder lets go, so that requests on
// different connections take turns.
//
// The lock is not recursive by design: a command that runs several steps under
// one hold hands the Hold to each step.
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

    // Marks the calling thread as the one that owns the agent's windows (the
    // application's main thread, at start-up). The mark stays with the thread.
    static void MarkWindowThread();

    // Waits while another thread holds the lock; refused (an empty Hold) on the
    // thread that holds it, and on the window thread while another holds it.
    [[nodiscard]] Hold Take();
    // Never waits: refused while any thread holds the lock.
    [[nodiscard]] Hold TryTake();
    bool HeldByThisThread() const;
    // True when `hold` holds this lock or this thread holds it already (a
    // refused take nested in the holder): either way no other thread uses what
    // the lock guards meanwhile. False when the take was refused because
    // another thread holds the lock.
    bool GuardedHere(const Hold& hold) const { return hold.Holds(*this) || HeldByThisThread(); }

private:
    void Give();

    mutable std::mutex m_mutex;
    std::condition_variable m_free;
    bool m_held = false;
    std::thread::id m_owner;
};
