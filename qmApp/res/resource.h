// Resource ids of qmApp.rc.
#pragma once

#define IDR_MAINFRAME 128

#define IDD_QMAPP_DIALOG 102
#define IDD_SAVETHISPAGE 129
#define IDD_ABOUT 130
#define IDD_SAVEMULTIPLEPAGES 131
#define IDD_WAITING 132
#define IDD_SAVINGPIC 133
#define IDD_WAITINGIMAGE 134

// Main window
#define IDC_ABOUT 1000
#define IDC_URL 1002
#define IDC_SAVE_PAGE 1003
#define IDC_SAVE_MULTIPLE 1004
#define IDC_SAVE_IMAGES 1005
#define IDC_SAVE_AS_IMAGE 1006
#define IDC_BROWSER 1016

// Option dialogs
#define IDC_SAVE_PATH 1002
#define IDC_BROWSE 1007
#define IDC_WORDS_ONLY 1008
#define IDC_COMPLETE 1009

// Progress dialogs
#define IDC_STATUS 1011
#define IDC_PICTURE_COUNT 1012

#ifndef IDC_STATIC
#  define IDC_STATIC (-1)
#endif
