// A HID platform for the fuzz targets that run whole transactions, receive
// thread and wait included, and still read their input deterministically.
//
// One device. Its input reports are queued only in answer to what the system
// writes: the target's peer sees every report written and queues the answer
// (from the fuzz input) before the write returns. A read that finds nothing
// queued times out at once and moves a virtual clock on by its time-out; the
// transactions wait on that clock (the platform is their ExchangeClock and
// MessagePump too, and their pauses take no time). So the wait only runs out
// once the receive thread has found nothing more to read, and which input
// bytes a transaction reads depends on the input alone, never on how the two
// threads happen to run.
//
// Parked reads: for targets that hand the reports to the system themselves
// (TakeQueued), every read blocks until Unpark and then times out.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "obulink/exchange_wait.h"
#include "obulink/hid_platform.h"
#include "tests/fuzz/fuzz_hid_device.h"

using FuzzReport = std::vector<uint8_t>;

// The device's side: answers each report the system writes.
class FuzzHidPeer {
public:
    virtual ~FuzzHidPeer() = default;
    // Called under the platform's lock; may queue answers with Queue and
    // FailNextRead (and nothing else of the platform).
    virtual void OnWrite(const FuzzReport& report) = 0;
};

class LockstepHidPlatform : public FuzzHidDevice, public ExchangeClock, public MessagePump {
public:
    // A device with this product string and these report lengths.
    LockstepHidPlatform(std::string product, uint16_t inputReportLength, uint16_t outputReportLength)
        : FuzzHidDevice(true, std::move(product), {inputReportLength, outputReportLength, 0})
    {
    }

    FuzzHidPeer* peer = nullptr;

    // For the peer (under the lock).
    void Queue(FuzzReport report)
    {
        m_queue.push_back(std::move(report));
        ++m_queuedEver;
    }
    void FailNextRead() { m_failNextRead = true; }
    // Reports queued and not yet read: an answer queued behind others is read after them.
    size_t Queued() const { return m_queue.size(); }
    // Reports queued so far: the number a report just queued will have when taken.
    uint64_t QueuedEver() const { return m_queuedEver; }

    // A report the device sends unasked.
    void Send(FuzzReport report)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        Queue(std::move(report));
    }

    // Between two transactions: whatever was left unread is dropped.
    void Drop()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_queue.clear();
        m_failNextRead = false;
    }

    void Park()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_parked = true;
    }
    void Unpark()
    {
        {
            std::lock_guard<std::mutex> hold(m_lock);
            m_parked = false;
        }
        m_unparked.notify_all();
    }
    // The next queued report as a read would give it (cut to the input
    // report length); false when none is queued.
    bool TakeQueued(FuzzReport& report)
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (m_queue.empty()) return false;
        report = std::move(m_queue.front());
        m_queue.pop_front();
        ++m_taken;
        if (report.size() > InputReportLength()) report.resize(InputReportLength());
        return true;
    }

    // Reports taken with TakeQueued so far (the last one's number).
    uint64_t Taken()
    {
        std::lock_guard<std::mutex> hold(m_lock);
        return m_taken;
    }

    // HidPlatform (the rest is FuzzHidDevice's)
    HidIoResult Write(HidHandle, const uint8_t* data, size_t length, uint32_t) override
    {
        std::lock_guard<std::mutex> hold(m_lock);
        if (peer) peer->OnWrite(FuzzReport(data, data + length));
        return HidIoResult::Done;
    }
    HidIoResult Read(HidHandle, uint8_t* buffer, size_t length, uint32_t timeoutMs, size_t& bytesRead) override
    {
        {
            std::unique_lock<std::mutex> hold(m_lock);
            m_unparked.wait(hold, [this] { return !m_parked; });
            if (m_failNextRead) {
                m_failNextRead = false;
                return HidIoResult::Failed;
            }
            if (!m_queue.empty()) {
                const FuzzReport report = std::move(m_queue.front());
                m_queue.pop_front();
                bytesRead = std::min(report.size(), length);
                std::copy(report.begin(), report.begin() + static_cast<std::ptrdiff_t>(bytesRead), buffer);
                return HidIoResult::Done;
            }
            m_now += timeoutMs == 0xFFFFFFFF ? 1000 : timeoutMs;
        }
        std::this_thread::yield();
        return HidIoResult::TimedOut;
    }
    // A flush drops the reports queued and not yet read.
    bool FlushInput(HidHandle) override
    {
        std::lock_guard<std::mutex> hold(m_lock);
        m_queue.clear();
        return true;
    }
    // ExchangeClock
    uint64_t NowMs() override { return m_now.load(); }
    void SleepMs(uint32_t) override {}
    // MessagePump
    void DispatchPending(uint32_t) override { std::this_thread::yield(); }

    ExchangeServices Services() { return {this, this}; }

private:
    std::mutex m_lock;
    std::condition_variable m_unparked;
    std::deque<FuzzReport> m_queue;
    bool m_failNextRead = false;
    bool m_parked = false;
    uint64_t m_queuedEver = 0;
    uint64_t m_taken = 0;
    std::atomic<uint64_t> m_now{0};
};
