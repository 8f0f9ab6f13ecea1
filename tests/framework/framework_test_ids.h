/* Resource ids of the framework's tests. */
#pragma once

#define IDS_TEST_KOREAN 100
#define IDR_TEST_FRAME 200
#define IDD_TEST_DIALOG 300
#define IDC_TEST_DRAWN 1001
#define IDC_TEST_EDIT 1002
