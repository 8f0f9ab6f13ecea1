#include "tests/sim/sim_card_links.h"
#include "tests/sim/test_pcsc_link.h"

namespace sim {

namespace {

class HostPcscLink : public TestPcscLink {
public:
    HostPcscLink(VirtualIssuingCard& card, bool present) : m_link(card, present) {}
    bool Connect() override { return m_link.Connect(); }
    bool Transmit(const uint8_t* request, size_t requestLength, uint8_t* reply, size_t capacity,
                  size_t& replyLength) override
    {
        return m_link.Transmit(request, requestLength, reply, capacity, replyLength);
    }
    void Close() override { m_link.Close(); }
    bool Connected() const override { return m_link.Connected(); }
    int Connects() const override { return m_link.Connects(); }

private:
    SimPcscLink m_link;
};

}  // namespace

std::unique_ptr<TestPcscLink> MakeTestPcscLink(VirtualIssuingCard& card, bool cardPresent)
{
    return std::make_unique<HostPcscLink>(card, cardPresent);
}

}  // namespace sim
