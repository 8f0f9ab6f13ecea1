// The OBU and biometric-unit controllers of the test programs. The agent
// builds them with its other long-lived objects, in their fixed order
// (agent/globals_win.cpp); a test program that reaches them through the
// command layer gets them from here.
#include "biometric/biu_controller.h"
#include "obulink/obu_controller.h"

CObuSelfIssueCtrl g_ObuSelfIssueCtrl;
CQv_BIUIssueCtrl g_BIUIssueCtrl;
