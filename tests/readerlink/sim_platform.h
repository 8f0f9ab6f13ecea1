// The library's platform for tests of the portable code: serial lines that lead
// to simulated readers, the simulated USB bus, a clock that moves only when the
// library sleeps or waits, and the trace lines it hands out.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "readerlink/link_io.h"
#include "tests/sim/card_reader_sim.h"
#include "tests/sim/sim_usb_bus.h"

class SimPlatform : public tarnlink::IReaderPlatform {
public:
    SimPlatform()
    {
        usb.onTimeout = [this](uint32_t ms) { now += ms; };
    }

    std::map<int, sim::CardReaderSim*> serialReaders;  // port number -> reader on its line
    bool failReads = false;                            // every serial read fails
    std::vector<sim::Bytes> serialWrites;
    std::vector<int> openedPorts;
    tarnlink::SerialSettings lastSettings;
    int openLines = 0;
    int sleeps = 0;
    uint32_t now = 5000;
    sim::SimUsbBus usb;
    std::vector<std::string> traces;

    std::unique_ptr<tarnlink::ISerialLine> OpenSerial(int port, const tarnlink::SerialSettings& settings) override
    {
        auto reader = serialReaders.find(port);
        if (reader == serialReaders.end()) return nullptr;
        openedPorts.push_back(port);
        lastSettings = settings;
        return std::make_unique<Line>(*this, *reader->second);
    }
    tarnlink::IUsbReaderBus& UsbBus() override { return usb; }
    uint32_t TickMs() override { return now; }
    void SleepMs(uint32_t milliseconds) override
    {
        now += milliseconds;
        ++sleeps;
    }
    void TraceText(const char* text) override { traces.emplace_back(text); }

private:
    class Line : public tarnlink::ISerialLine {
    public:
        Line(SimPlatform& platform, sim::CardReaderSim& reader) : m_platform(platform), m_reader(reader)
        {
            ++m_platform.openLines;
        }
        ~Line() override { --m_platform.openLines; }
        int Read(uint8_t* buffer, int n) override
        {
            if (m_platform.failReads) return -1;
            const int count = std::min(n, static_cast<int>(m_inbound.size()));
            for (int i = 0; i < count; ++i) {
                buffer[i] = m_inbound.front();
                m_inbound.pop_front();
            }
            return count;
        }
        int Write(const uint8_t* bytes, int n) override
        {
            m_platform.serialWrites.emplace_back(bytes, bytes + n);
            const sim::Bytes reply = m_reader.FromSerialLine(bytes, static_cast<size_t>(n));
            m_inbound.insert(m_inbound.end(), reply.begin(), reply.end());
            return n;
        }
        void SetRts(bool) override {}

    private:
        SimPlatform& m_platform;
        sim::CardReaderSim& m_reader;
        std::deque<uint8_t> m_inbound;
    };
};
