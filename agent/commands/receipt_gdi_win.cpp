#include "agent/commands/receipt_gdi_win.h"

#include <commdlg.h>

CGdiPrintContext::~CGdiPrintContext()
{
    DeleteDC(m_dc);
}

void CGdiPrintContext::StartDoc(const char* documentName)
{
    DOCINFOA info = {};
    info.cbSize = sizeof info;
    info.lpszDocName = documentName;
    ::StartDocA(m_dc, &info);
}

void CGdiPrintContext::StartPage()
{
    ::StartPage(m_dc);
}

void CGdiPrintContext::TextOut(int x, int y, const char* bytes, int count)
{
    ::TextOutA(m_dc, x, y, bytes, count);
}

void CGdiPrintContext::EndPage()
{
    ::EndPage(m_dc);
}

void CGdiPrintContext::EndDoc()
{
    ::EndDoc(m_dc);
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
