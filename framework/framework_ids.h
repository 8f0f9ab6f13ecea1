/* Command and string ids that the framework itself knows. Plain macros: resource
   scripts include this file too. */
#pragma once

#define AFX_IDS_APP_TITLE 0xE000 /* 57344: string, the application's name */
#define ID_APP_ABOUT 0xE140      /* 57664: command, the application's About entry */
#define ID_APP_EXIT 0xE141       /* 57665: command, ends the application */
