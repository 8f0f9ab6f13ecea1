#include "agent/commands/receipt_gdi_win.h"

#include <commdlg.h>

CGdiPrintContext::~CGdiPrintContext()
{
    DeleteDC(m_dc);
}

bool CGdiPrintContext::StartDoc(const char* documentName)
{
    DOCINFOA info = {};
    info.cbSize = sizeof info;
    info.lpszDocName = documentName;
    return ::StartDocA(m_dc, &info) > 0;  // the job's number
}

bool CGdiPrintContext::StartPage()
{
    return ::StartPage(m_dc) > 0;
}

bool CGdiPrintContext::TextOut(int x, int y, const char* bytes, int count)
{
    return ::TextOutA(m_dc, x, y, bytes, count) != FALSE;
}

bool CGdiPrintContext::EndPage()
{
    return ::EndPage(m_dc) > 0;
}

bool CGdiPrintContext::EndDoc()
{
    return ::EndDoc(m_dc) > 0;
}

int CGdiPrintContext::LineHeight()
{
    TEXTMETRICA metrics = {};
    if (!GetTextMetricsA(m_dc, &metrics))
        return 0;
    return metrics.tmHeight + metrics.tmExternalLeading;
}

std::unique_ptr<IPrintContext> CPrintDialogWin::Show()
{
    PRINTDLGA dialog = {};
    dialog.lStructSize = sizeof dialog;
    dialog.hwndOwner = nullptr;
    dialog.Flags = PD_RETURNDC;
    PrintDlgA(&dialog);
    if (dialog.hDevMode)
        GlobalFree(dialog.hDevMode);
    if (dialog.hDevNames)
        GlobalFree(dialog.hDevNames);
    if (!dialog.hDC)
        return nullptr;
    return std::make_unique<CGdiPrintContext>(dialog.hDC);
}
