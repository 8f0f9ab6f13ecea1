#include "agent/child_view_win.h"

void CChildView::OnPaint()
{
    CPaintDC dc(this);  // validates the window; nothing to draw
}
