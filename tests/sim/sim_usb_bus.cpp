#include "tests/sim/sim_usb_bus.h"

#include <algorithm>
#include <cstring>

namespace sim {

class SimUsbLink : public tarnlink::IUsbLink {
public:
    SimUsbLink(SimUsbBus& bus, size_t index) : m_bus(bus), m_index(index) { Slot().held = true; }
    ~SimUsbLink() override
    {
        Slot().held = false;
        Slot().reply.reset();
    }

    int Write(const uint8_t* bytes, int n) override
    {
        if (m_bus.failWrites) return kFailed;
        m_bus.writes.emplace_back(bytes, bytes + n);
        Slot().reply = Slot().reader->FromUsb(bytes, static_cast<size_t>(n));
        return n;
    }

    int Read(uint8_t* buffer, int capacity, uint32_t timeoutMs) override
    {
        if (m_bus.failReads) return kFailed;
        if (!Slot().reply) {
            if (m_bus.onTimeout) m_bus.onTimeout(timeoutMs);
            return kTimedOut;
        }
        const Bytes reply = *Slot().reply;
        Slot().reply.reset();
        const int count = std::min(capacity, static_cast<int>(reply.size()));
        if (count > 0) std::memcpy(buffer, reply.data(), static_cast<size_t>(count));
        return count;
    }

private:
    SimUsbBus::Slot& Slot() { return m_bus.m_slots[m_index]; }
    SimUsbBus& m_bus;
    size_t m_index;
};

void SimUsbBus::Attach(CardReaderSim* reader)
{
    Slot slot;
    slot.reader = reader;
    slot.held = reader == nullptr;
    m_slots.push_back(slot);
}

std::unique_ptr<tarnlink::IUsbLink> SimUsbBus::OpenAt(int index)
{
    if (index < 0 || static_cast<size_t>(index) >= m_slots.size() || m_slots[index].held) return nullptr;
    return std::make_unique<SimUsbLink>(*this, static_cast<size_t>(index));
}

}  // namespace sim
