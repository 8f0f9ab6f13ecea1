/* Resource and control ids of the fingerprint screens (resources/fingerprint.rc
   and biometric/fingerprint_screens_win.cpp). Plain macros: the resource script includes
   this file too. */
#pragma once

/* Dialog templates */
#define IDD_FINGER_REGIST 310 /* registration screen (CMainPage) */
#define IDD_FINGER_VERIFY 341 /* verification screen (CVerify) */

/* Bitmaps */
#define IDB_REGIST_CANCEL_PRESSED 313
#define IDB_REGIST_CANCEL 315
#define IDB_REGIST_CANCEL_HOVER 316
#define IDB_DONE_PRESSED 317
#define IDB_DONE 318
#define IDB_DONE_HOVER 320
#define IDB_SCAN_HAND_1 321
#define IDB_SCAN_HAND_2 322
#define IDB_PAGE_SCAN 323
#define IDB_PAGE_DONE 328
#define IDB_SCAN_MARK 329
#define IDB_PAGE_CHOOSE 330
#define IDB_REGIST_BACKGROUND 331
#define IDB_FINGER_REGISTERED 335
#define IDB_FINGER_FREE 336
#define IDB_FINGER_FREE_LIT 337
#define IDB_VERIFY_BACKGROUND 338

/* Controls of the registration screen */
#define IDC_PAGE_PICTURE 1057
#define IDC_HAND_PICTURE 1058
#define IDC_SECOND_FRAME 1059
#define IDC_FIRST_FRAME 1060
#define IDC_REGIST_CANCEL 2002 /* cancel and done share it */
#define IDC_FINGER_L5 3002     /* 3002..3011: L5, L4, L3, L2, L1, R5, R4, R3, R2, R1 */
#define IDC_FINGER_R1 3011

/* Control of the verification screen */
#define IDC_VERIFY_NEXT 2001
