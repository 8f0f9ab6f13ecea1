#include "agent/card/tarni.h"

#include <vector>

namespace card {

int CTarni::OpenPort()
{
    m_nOpenedPorts = 0;
    m_nReaderPort = kReaderPort;
    if (!m_pLibrary)
        return 0;
    for (int32_t port = kReaderPort; m_nOpenedPorts < kMostPorts; ++port) {
        if (m_pLibrary->InitPort(port, kBaud) != port)
            break;
        m_nReaderPort = port;
        ++m_nOpenedPorts;
    }
    return m_nOpenedPorts > 0 ? 1 : 0;
}

int CTarni::PowerOnIC()
{
    if (!m_pLibrary)
        return 0;
    std::vector<uint8_t> atr(kReaderReplyCapacity, 0);
    int32_t length = 0;
    return m_pLibrary->IcPowerOn(kReaderPort, &length, atr.data()) == 0 ? 1 : 0;
}

int CTarni::DetectMode()
{
    if (PowerOnIC()) {
        m_bRFMode = 0;
        return 1;
    }
    if (!m_pLibrary)
        return 0;
    uint8_t probe[4] = {0x03, 0x00, 0x00, 0x00};
    std::vector<uint8_t> reply(kReaderReplyCapacity, 0);
    int32_t length = 0;
    if (m_pLibrary->AbmTransparent(kReaderPort, kProbeCommand, 4, probe, &length, reply.data()) == 0 &&
        reply[0] == kProbeAnswer) {
        m_bRFMode = 1;
        return 1;
    }
    return 0;
}

void CTarni::ClosePorts()
{
    if (m_pLibrary) {
        // Every port from 100 to the last one that opened was opened; close them
        // all, the last first.
        for (int32_t port = m_nReaderPort; port >= kReaderPort && m_nOpenedPorts > 0; --port, --m_nOpenedPorts)
            m_pLibrary->ClosePort(port);
    }
    m_nOpenedPorts = 0;
    m_nReaderPort = kReaderPort;
}

}  // namespace card
