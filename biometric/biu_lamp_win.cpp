// The controller's lamp: a white rectangle with an ellipse in the context's
// current pen and brush. Nothing in the program calls it.
#include <windows.h>

#include "biometric/biu_controller.h"

int CQv_BIUIssueCtrl::DrawLamp(void* deviceContext, const void* rect, int /*unused*/)
{
    HDC dc = static_cast<HDC>(deviceContext);
    const RECT* r = static_cast<const RECT*>(rect);
    if (!dc || !r) return 0;
    FillRect(dc, r, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    return Ellipse(dc, r->left, r->top, r->right, r->bottom);
}
