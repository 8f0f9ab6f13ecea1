// CButton: a push button bound to a CWnd. An owner-drawn button (BS_OWNERDRAW)
// draws itself in DrawItem: its parent offers WM_DRAWITEM to it.
#pragma once

#include <windows.h>

#include "framework/wnd_win.h"

class CButton : public CWnd {
public:
    // Creates the button as a child of `parent` with the id `id`.
    BOOL Create(const char* caption, DWORD style, const RECT& rect, CWnd* parent, UINT id);

    // Paints an owner-drawn button; the base draws nothing.
    virtual void DrawItem(DRAWITEMSTRUCT* item);

protected:
    BOOL OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result) override;
};
