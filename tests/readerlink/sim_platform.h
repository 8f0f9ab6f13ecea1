// The library's platform for tests of the portable code: serial lines that lead
// to simulated devices, the simulated USB bus, a clock that moves only when the
// library sleeps or waits (or, when asked, with every byte read), and the trace
// lines it hands out. A listener thread may use it beside the test's thread.
//
// The clock: `now` is the time of the test's thread (the one that built the
// platform), and every thread sees it. Any other thread sees it plus the time
// it has slept or waited itself: its naps pass for it alone. Work takes no
// time here, so a thread that naps beside an exchange must not make that
// exchange's time limit run out, as it would if all naps moved one clock (the
// listener naps a millisecond at a time while a poll holds the port).
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "readerlink/link_io.h"
#include "tests/sim/card_reader_sim.h"
#include "tests/sim/serial_peer.h"
#include "tests/sim/sim_usb_bus.h"

class SimPlatform : public tarnlink::IReaderPlatform {
public:
    SimPlatform()
    {
        usb.onTimeout = [this](uint32_t ms) { Pass(ms); };
    }

    std::map<int, sim::SerialPeer*> serialReaders;  // port number -> device on its line
    bool failReads = false;                         // every serial read fails
    bool echoWrites = false;                        // a two-wire line: what is written comes back first
    bool failReceiveEvents = false;
    int endlessByte = -1;                           // 0 to 255: the line never stops sending it
    uint32_t msPerByte = 0;                         // the clock moves with every byte read
    std::vector<sim::Bytes> serialWrites;
    std::vector<int> openedPorts;
    std::vector<bool> rtsChanges;
    tarnlink::SerialSettings lastSettings;
    int openLines = 0;
    std::atomic<int> sleeps{0};
    std::atomic<uint32_t> now{5000};  // the test's thread's time
    // Called with every listener trace line, on the thread that traces.
    std::function<void(const std::string&)> onListenerTrace;
    sim::SimUsbBus usb;

    // Bytes the device at the far end sends of its own accord.
    void Send(int port, const sim::Bytes& bytes)
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            m_inbound[port].insert(m_inbound[port].end(), bytes.begin(), bytes.end());
        }
        m_arrived.notify_all();
    }
    std::vector<std::string> Traces()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return m_traces;
    }
    std::vector<std::string> ListenerTraces()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return m_listenerTraces;
    }
    std::vector<sim::Bytes> Writes()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return serialWrites;
    }

    std::unique_ptr<tarnlink::ISerialLine> OpenSerial(int port, const tarnlink::SerialSettings& settings) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        auto peer = serialReaders.find(port);
        if (peer == serialReaders.end()) return nullptr;
        openedPorts.push_back(port);
        lastSettings = settings;
        m_inbound[port].clear();
        return std::make_unique<Line>(*this, *peer->second, port);
    }
    tarnlink::IUsbReaderBus& UsbBus() override { return usb; }
    uint32_t TickMs() override
    {
        if (std::this_thread::get_id() == m_testThread) return now;
        std::lock_guard<std::mutex> lock(m_clockMutex);
        return now + m_ownTime[std::this_thread::get_id()];
    }
    void SleepMs(uint32_t milliseconds) override
    {
        Pass(milliseconds);
        ++sleeps;
    }
    // Milliseconds other threads have slept or waited, all together.
    uint32_t OtherThreadsTime()
    {
        std::lock_guard<std::mutex> lock(m_clockMutex);
        uint32_t sum = 0;
        for (const auto& [thread, ms] : m_ownTime) sum += ms;
        return sum;
    }
    void TraceText(const char* text) override
    {
        std::lock_guard<std::mutex> lock(mutex);
        m_traces.emplace_back(text);
    }
    void ListenerTraceText(const char* text) override
    {
        {
            std::lock_guard<std::mutex> lock(mutex);
            m_listenerTraces.emplace_back(text);
        }
        if (onListenerTrace) onListenerTrace(text);
    }

    std::mutex mutex;  // guards the lines, the devices behind them and the traces

private:
    // Time passes for the calling thread.
    void Pass(uint32_t milliseconds)
    {
        if (std::this_thread::get_id() == m_testThread) {
            now += milliseconds;
            return;
        }
        std::lock_guard<std::mutex> lock(m_clockMutex);
        m_ownTime[std::this_thread::get_id()] += milliseconds;
    }

    const std::thread::id m_testThread = std::this_thread::get_id();
    std::mutex m_clockMutex;  // guards m_ownTime
    std::map<std::thread::id, uint32_t> m_ownTime;
    std::map<int, std::deque<uint8_t>> m_inbound;
    std::condition_variable m_arrived;
    std::vector<std::string> m_traces;
    std::vector<std::string> m_listenerTraces;

    class Line : public tarnlink::ISerialLine {
    public:
        Line(SimPlatform& platform, sim::SerialPeer& peer, int port) : m_platform(platform), m_peer(peer), m_port(port)
        {
            ++m_platform.openLines;
        }
        ~Line() override
        {
            std::lock_guard<std::mutex> lock(m_platform.mutex);
            --m_platform.openLines;
        }
        int Read(uint8_t* buffer, int n) override
        {
            std::lock_guard<std::mutex> lock(m_platform.mutex);
            if (m_platform.failReads) return -1;
            std::deque<uint8_t>& inbound = m_platform.m_inbound[m_port];
            int count = std::min(n, static_cast<int>(inbound.size()));
            for (int i = 0; i < count; ++i) {
                buffer[i] = inbound.front();
                inbound.pop_front();
            }
            if (count < n && m_platform.endlessByte >= 0) {
                std::memset(buffer + count, m_platform.endlessByte, static_cast<size_t>(n - count));
                count = n;
            }
            m_platform.Pass(m_platform.msPerByte * static_cast<uint32_t>(count));
            return count;
        }
        int Write(const uint8_t* bytes, int n) override
        {
            {
                std::lock_guard<std::mutex> lock(m_platform.mutex);
                m_platform.serialWrites.emplace_back(bytes, bytes + n);
                std::deque<uint8_t>& inbound = m_platform.m_inbound[m_port];
                if (m_platform.echoWrites) inbound.insert(inbound.end(), bytes, bytes + n);
                const sim::Bytes reply = m_peer.FromSerialLine(bytes, static_cast<size_t>(n));
                inbound.insert(inbound.end(), reply.begin(), reply.end());
            }
            m_platform.m_arrived.notify_all();
            return n;
        }
        void SetRts(bool on) override
        {
            std::lock_guard<std::mutex> lock(m_platform.mutex);
            m_platform.rtsChanges.push_back(on);
        }
        bool EnableReceiveEvents() override { return !m_platform.failReceiveEvents; }
        bool WaitForInput(uint32_t timeoutMs) override
        {
            std::unique_lock<std::mutex> lock(m_platform.mutex);
            return m_platform.m_arrived.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                                                 [&] { return !m_platform.m_inbound[m_port].empty(); });
        }

    private:
        SimPlatform& m_platform;
        sim::SerialPeer& m_peer;
        int m_port;
    };
};
