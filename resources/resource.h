/* Resource ids of Corvane.exe (used by Corvane.rc and the sources). The
   framework's own ids (application name, About, Exit) are in
   framework/framework_ids.h. */
#pragma once

#define IDS_OLE_INIT_FAILED 100 /* string: OLE could not be started */
#define IDR_MAINFRAME 128       /* icon, menu and frame title */
#define ID_AGENT_EXIT 32775     /* command: "Agent 종료" of the tray menu */
