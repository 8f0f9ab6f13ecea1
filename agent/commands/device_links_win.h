// Puts the program's real device links behind the issuing-command controller:
// the reader link library, the PC/SC service and the print dialog. They live
// for the whole process, past the controller's close step at exit.
#pragma once

class COBUIssueCtrl;

void InstallDeviceLinks(COBUIssueCtrl& ctrl);
