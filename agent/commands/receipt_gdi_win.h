// The receipt on a real printer: the platform's print dialog and a GDI device
// context.
#pragma once

#include <windows.h>

#include "agent/commands/receipt.h"

// A device context as the receipt prints on it; deletes the context when done.
class CGdiPrintContext : public IPrintContext {
public:
    explicit CGdiPrintContext(HDC dc) : m_dc(dc) {}
    ~CGdiPrintContext() override;
    CGdiPrintContext(const CGdiPrintContext&) = delete;
    CGdiPrintContext& operator=(const CGdiPrintContext&) = delete;

    bool StartDoc(const char* documentName) override;
    bool StartPage() override;
    bool TextOut(int x, int y, const char* bytes, int count) override;
    bool EndPage() override;
    bool EndDoc() override;
    int LineHeight() override;

private:
    HDC m_dc;
};

// The print dialog with PD_RETURNDC alone and no owner window.
class CPrintDialogWin : public IPrintDialog {
public:
    std::unique_ptr<IPrintContext> Show() override;
};
