// Simulated USB reader interfaces behind the library's USB bus seam: each one
// leads to a CardReaderSim, opens only once at a time (as a real interface
// opens exclusively), and logs every packet written to it.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <vector>

#include "readerlink/link_io.h"
#include "tests/sim/card_reader_sim.h"

namespace sim {

class SimUsbBus : public tarnlink::IUsbReaderBus {
public:
    // Adds an interface at the next index; null stands for one that is there
    // but cannot be opened (held by another program).
    void Attach(CardReaderSim* reader);

    void BeginScan() override {}
    std::unique_ptr<tarnlink::IUsbLink> OpenAt(int index) override;
    void EndScan() override {}

    bool IsHeld(size_t index) const { return m_slots.at(index).held; }
    bool failWrites = false;
    bool failReads = false;
    // Called with the time limit of a read that finds no answer.
    std::function<void(uint32_t)> onTimeout;

    std::vector<Bytes> writes;  // every packet, in order

private:
    friend class SimUsbLink;
    struct Slot {
        CardReaderSim* reader = nullptr;
        bool held = false;
        std::optional<Bytes> reply;
    };
    std::vector<Slot> m_slots;
};

}  // namespace sim
