// Simulated links to the virtual issuing card, in the agent's own link
// interfaces:
//   SimReaderLibrary  the reader link library's exports with USB readers on
//                     ports 100 and up and a contact or contactless card in the
//                     first one; it answers as the library does (port number,
//                     reader status, reply data with the status word).
//   SimPcscLink       a PC/SC service with one reader and the card in it.
#pragma once

#include <string>
#include <vector>

#include "agent/card/pcsc_link.h"
#include "agent/card/reader_library.h"
#include "tests/sim/virtual_issuing_card.h"

namespace sim {

enum class CardPresence { kNone, kContact, kContactless };

// What a reader's contact channel hands on of the card's reply to `command`:
// it speaks T=0, so for a command that reads data (`dataOut`, the case-2
// channel) the card's procedure byte, the instruction, comes first.
Bytes ContactChannelReply(const Bytes& command, const Bytes& reply, bool dataOut);

class SimReaderLibrary : public card::IReaderLibrary {
public:
    // Library results the agent sees.
    static constexpr int32_t kNoPortRecord = 1250;
    static constexpr int32_t kNoUsbReader = 1;
    static constexpr int32_t kReaderNoCard = 2;  // the reader's status byte

    SimReaderLibrary(VirtualIssuingCard& card, int readers, CardPresence presence)
        : m_card(card), m_readers(readers), m_presence(presence) {}

    void SetPresence(CardPresence presence) { m_presence = presence; }

    // One line per call, e.g. "InitPort 100", "Case2 100 00 B0 88 00 3C", "ClosePort 100".
    const std::vector<std::string>& Calls() const { return m_calls; }
    bool IsOpen(int32_t port) const;

    int32_t InitPort(int32_t port, int32_t baud) override;
    int32_t ClosePort(int32_t port) override;
    int32_t IcPowerOn(int32_t port, int32_t* outLength, uint8_t* atr) override;
    int32_t IcCase1(int32_t port, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out) override;
    int32_t IcCase2(int32_t port, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out) override;
    int32_t IcCase3(int32_t port, int32_t length, const uint8_t* data, int32_t* outLength, uint8_t* out) override;
    int32_t AbmTransparent(int32_t port, int32_t command, int32_t length, const uint8_t* data, int32_t* outLength,
                           uint8_t* out) override;

private:
    int32_t Reply(const Bytes& payload, int32_t* outLength, uint8_t* out);
    int32_t ContactCase(const char* name, bool dataOut, int32_t port, int32_t length, const uint8_t* data,
                        int32_t* outLength, uint8_t* out);
    void Note(const std::string& call, int32_t port, const uint8_t* data = nullptr, int32_t length = 0);

    VirtualIssuingCard& m_card;
    int m_readers;
    CardPresence m_presence;
    std::vector<int32_t> m_open;
    std::vector<std::string> m_calls;
};

class SimPcscLink : public card::IPcscLink {
public:
    explicit SimPcscLink(VirtualIssuingCard& card, bool cardPresent = true)
        : m_card(card), m_present(cardPresent) {}

    bool Connect() override;
    bool Transmit(const uint8_t* request, size_t requestLength, uint8_t* reply, size_t capacity,
                  size_t& replyLength) override;
    void Close() override;

    bool Connected() const { return m_connected; }
    int Connects() const { return m_connects; }
    int Closes() const { return m_closes; }

private:
    VirtualIssuingCard& m_card;
    bool m_present;
    bool m_connected = false;
    int m_connects = 0;
    int m_closes = 0;
};

}  // namespace sim
