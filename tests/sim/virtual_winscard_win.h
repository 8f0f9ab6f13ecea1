// A virtual smart-card service in the place of winscard.dll: the ten functions
// the agent binds, with the platform's own signatures, serving one reader with
// the virtual issuing card in it. A test binds them through
// VirtualWinSCardBinder where the agent would load the platform's library.
#pragma once

#include <windows.h>
#include <winscard.h>

#include <set>
#include <string>
#include <vector>

#include "agent/card/card_reader_win.h"
#include "tests/sim/virtual_issuing_card.h"

namespace sim {

struct VirtualWinSCardState {
    VirtualIssuingCard* card = nullptr;
    bool readerPresent = true;
    bool cardPresent = true;
    DWORD cardProtocol = SCARD_PROTOCOL_T0;  // what the card negotiates
    LONG establishResult = SCARD_S_SUCCESS;
    std::vector<std::string> withheld;  // functions the library does not export

    // What happened: one line per call ("SCardTransmit T1 00 A4 ...").
    std::vector<std::string> calls;
    std::vector<std::string> lookups;  // names asked for, in order
    std::set<SCARDCONTEXT> contexts;   // open contexts
    std::set<SCARDHANDLE> cards;       // connected card handles
    ULONG_PTR nextHandle = 0x100;
};

// The one service of the process; Reset() gives a fresh one.
VirtualWinSCardState& VirtualWinSCard();
void ResetVirtualWinSCard(VirtualIssuingCard* card);

class VirtualWinSCardBinder : public card::IModuleBinder {
public:
    HMODULE Load(const char* name) override;
    FARPROC Find(HMODULE module, const char* name) override;
    int Loads() const { return m_loads; }

private:
    int m_loads = 0;
};

}  // namespace sim
