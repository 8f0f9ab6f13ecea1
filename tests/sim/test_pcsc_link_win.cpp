#include "agent/card/card_reader_win.h"
#include "tests/sim/test_pcsc_link.h"
#include "tests/sim/virtual_winscard_win.h"

namespace sim {

namespace {

// The agent's CCardReader over the virtual service.
class WinPcscLink : public TestPcscLink {
public:
    WinPcscLink(VirtualIssuingCard& card, bool present) : m_reader(m_binder)
    {
        ResetVirtualWinSCard(&card);
        VirtualWinSCard().cardPresent = present;
    }
    bool Connect() override { return m_reader.Connect(); }
    bool Transmit(const uint8_t* request, size_t requestLength, uint8_t* reply, size_t capacity,
                  size_t& replyLength) override
    {
        return m_reader.Transmit(request, requestLength, reply, capacity, replyLength);
    }
    void Close() override { m_reader.Close(); }
    bool Connected() const override { return !VirtualWinSCard().cards.empty(); }
    int Connects() const override
    {
        int n = 0;
        for (const std::string& call : VirtualWinSCard().calls)
            n += call.rfind("SCardConnectA", 0) == 0;
        return n;
    }

private:
    VirtualWinSCardBinder m_binder;
    card::CCardReader m_reader;
};

}  // namespace

std::unique_ptr<TestPcscLink> MakeTestPcscLink(VirtualIssuingCard& card, bool cardPresent)
{
    return std::make_unique<WinPcscLink>(card, cardPresent);
}

}  // namespace sim
