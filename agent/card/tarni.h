// CTarni: the reader link library's side of the card access: opening the USB
// reader ports, powering a contact card and probing for a contactless one.
#pragma once

#include <cstdint>

#include "agent/card/reader_library.h"

namespace card {

class CTarni {
public:
    // The first USB reader; every card command goes to it.
    static constexpr int32_t kReaderPort = 100;
    static constexpr int32_t kBaud = 9600;
    static constexpr int kMostPorts = 10;
    // The contactless probe: reader command 4C with 03 00 00 00; a card answers 'B'.
    static constexpr int32_t kProbeCommand = 0x4C;
    static constexpr uint8_t kProbeAnswer = 0x42;
    // The reader command that carries a card command to a contactless card.
    static constexpr int32_t kCardCommand = 0x61;

    CTarni() = default;
    virtual ~CTarni() = default;

    void SetLibrary(IReaderLibrary* library) { m_pLibrary = library; }
    IReaderLibrary* Library() const { return m_pLibrary; }

    // Opens the USB reader ports from 100 on, up to ten, until one does not open.
    // 1 when at least one opened (m_nReaderPort then names the last), else 0.
    int OpenPort();
    // 1 when a contact card powered up (m_bRFMode 0) or a contactless card
    // answered the probe (m_bRFMode 1); 0 when none was found, m_bRFMode kept.
    int DetectMode();
    // 1 when the reader powered a contact card, else 0.
    int PowerOnIC();
    // Closes every port OpenPort opened and sets m_nReaderPort back to 100.
    void ClosePorts();

    int m_bRFMode = 0;
    int32_t m_nReaderPort = kReaderPort;

private:
    IReaderLibrary* m_pLibrary = nullptr;
    int m_nOpenedPorts = 0;
};

}  // namespace card
