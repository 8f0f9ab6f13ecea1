// CChildView: the main frame's view. It holds nothing and draws nothing; the
// frame offers it every command first and passes the focus on to it. Its window
// is never made (the frame is never shown).
#pragma once

#include "framework/wnd_win.h"

class CChildView : public CWnd {
protected:
    void OnPaint() override;
};
