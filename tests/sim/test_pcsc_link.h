// The PC/SC link the card tests run over. In the Windows builds it is the
// agent's own CCardReader, bound to a virtual smart-card service that holds the
// virtual card (virtual_winscard_win.h); in the host build a simulated link.
#pragma once

#include <memory>

#include "agent/card/pcsc_link.h"
#include "tests/sim/virtual_issuing_card.h"

namespace sim {

class TestPcscLink : public card::IPcscLink {
public:
    // A card is connected now.
    virtual bool Connected() const = 0;
    // Connections made so far.
    virtual int Connects() const = 0;
};

std::unique_ptr<TestPcscLink> MakeTestPcscLink(VirtualIssuingCard& card, bool cardPresent);

}  // namespace sim
