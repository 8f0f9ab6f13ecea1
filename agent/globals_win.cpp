// The agent's long-lived objects, in the one order in which they are built
// before WinMain (and destroyed in reverse when a start ends before its command
// server; once the server was made the agent ends its process at once and no
// destructor runs, see CCorvaneApp::EndProcess): the application,
// the issuing-command controller with its card access, the OBU controller, the
// biometric-unit controller. Keep them together in this file: C++ orders the
// construction of globals only within one translation unit, and across units
// the link order would decide.
#include "agent/commands/obu_issue_ctrl.h"
#include "agent/corvane_app_win.h"
#include "biometric/biu_controller.h"
#include "obulink/obu_controller.h"

CCorvaneApp g_App;                     // 1. the application
COBUIssueCtrl g_OBUIssueCtrl;          // 2. issuing commands; closes the open reader link when destroyed
CObuSelfIssueCtrl g_ObuSelfIssueCtrl;  // 3. the OBU; its handle is left to the system at exit
CQv_BIUIssueCtrl g_BIUIssueCtrl;       // 4. the biometric unit; likewise
