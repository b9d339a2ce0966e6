#pragma once
// Resource and command identifiers of the manager. The command numbers are
// the ones the ribbon, the accelerators and the view share.

#ifndef IDC_STATIC
#define IDC_STATIC -1
#endif

#define IDR_MAINFRAME 128          // program icon, document string
#define IDS_RIBBON_HOME 274        // "&Home"
#define IDS_STATUS_HINT 275
#define IDD_ABOUTBOX 100
#define IDD_TAGWELL_FORM 101       // the label list's form
#define IDD_CUSTOMIZE_LABELS 321

// Ribbon pictures, in the order of their image index.
#define IDI_RIBBON_FIRST 201       // 201 + image index, 0 to 6
#define IDB_ABOUT_BANNER_100 310
#define IDB_ABOUT_BANNER_200 311

#define IDC_ABOUT_BANNER 1001
#define IDC_ABOUT_UPDATES 1002
#define IDC_ABOUT_VERSION 1003

#define ID_OPEN_ITEM 57601
#define ID_CLEAR_LABEL 32775
#define ID_CUSTOMIZE_LABEL 32778
#define ID_USER_FEEDBACK 32773
#define ID_HELP_DOCUMENT 32774
#define ID_ABOUT 57664
#define ID_REFRESH_LIST 32771
