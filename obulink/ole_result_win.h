// Results as OLE strings, for the Windows-facing callers of the controllers.
//
// The controllers compute their results as texts in the ANSI code page
// (CString); a caller that takes OLE strings gets one newly allocated here:
// converted with the thread's ANSI code page and allocated at its converted
// length. The caller owns it (OleResult frees it). Running out of memory
// raises std::bad_alloc. OleResultText turns one back into a text with the
// process's ANSI code page, up to its first NUL character.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include "framework/cstring.h"

BSTR AllocOleResult(const CString& text);
CString OleResultText(BSTR text);

// Owns one OLE string.
class OleResult {
public:
    explicit OleResult(const CString& text) : m_text(AllocOleResult(text)) {}
    ~OleResult() { SysFreeString(m_text); }
    OleResult(const OleResult&) = delete;
    OleResult& operator=(const OleResult&) = delete;

    BSTR get() const { return m_text; }
    CString Text() const { return OleResultText(m_text); }

private:
    BSTR m_text;
};
