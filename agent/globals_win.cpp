// The agent's long-lived objects, in the one order in which they are built
// before WinMain (and destroyed in reverse after it returns): the application,
// the issuing-command controller with its card access, the OBU controller, the
// biometric-unit controller. Keep them together in this file: C++ orders the
// construction of globals only within one translation unit.
#include "agent/commands/obu_issue_ctrl.h"
#include "agent/corvane_app_win.h"

CCorvaneApp g_App;                 // 1. the application
COBUIssueCtrl g_OBUIssueCtrl;      // 2. issuing commands; closes the open reader link when destroyed
// 3. g_ObuSelfIssueCtrl, the OBU controller (CObuSelfIssueCtrl), is defined with its
//    class in obulink/obu_controller.cpp, where the portable command layer and its
//    tests find it; it needs nothing built here and closes nothing when destroyed.
// 4. g_BIUIssueCtrl, the biometric-unit controller (CQv_BIUIssueCtrl), goes here.
