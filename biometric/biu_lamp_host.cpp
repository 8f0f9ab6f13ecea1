// The host build has no device contexts: the lamp draws nothing.
#include "biometric/biu_controller.h"

int CQv_BIUIssueCtrl::DrawLamp(void*, const void*, int)
{
    return 0;
}
