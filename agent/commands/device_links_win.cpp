#include "agent/commands/device_links_win.h"

#include "agent/card/card_reader_win.h"
#include "agent/card/tarnlink_exports_win.h"
#include "agent/commands/obu_issue_ctrl.h"
#include "agent/commands/receipt_gdi_win.h"
#include "biometric/fingerprint_screens_win.h"

void InstallDeviceLinks(COBUIssueCtrl& ctrl)
{
    // Never destroyed: the agent's end still closes an idle card link through
    // them.
    static auto* readerLibrary = new card::CTarnlinkExports;
    static auto* cardReader = new card::CCardReader;
    static auto* printDialog = new CPrintDialogWin;
    ctrl.CardAccess().UseLinks(readerLibrary, cardReader);
    ctrl.UseReceiptPrinter(printDialog);
    // The biometric commands' fingerprint screens.
    static auto* fingerprintScreens = new CWindowsFingerprintScreens;
    g_BIUIssueCtrl.UseScreens(fingerprintScreens);
}
