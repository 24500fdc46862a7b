/* Resource, control and message ids shared by setup.rc and the code.
   Plain #defines only: windres reads this file too. */
#ifndef MURM_IDS_H
#define MURM_IDS_H

/* Page templates, in wizard order. */
#define IDD_WELCOME       104
#define IDD_AGREEMENT     105
#define IDD_DESTINATION   106
#define IDD_GROUP         107
#define IDD_COPYING       108
#define IDD_FINISH        109

/* Package data (RT_RCDATA). */
#define IDR_AGREEMENT     110
#define IDR_PAYLOAD       114
#define IDR_GROUP_LINKS   118
#define IDR_SETUP_STRINGS 119
#define IDR_DISPLAY_NAME  122

/* Icon group; windres numbers the single RT_ICON image 1. */
#define IDI_PROGRAM       103

/* Controls shared by every page. */
#define IDC_NEXT          1002
#define IDC_CANCEL        1003
#define IDC_BACK          1004
#define IDC_FRAME         1006

/* Agreement page. */
#define IDC_AGREEMENT_TEXT   1008
#define IDC_AGREEMENT_PROMPT 1009
#define IDC_ACCEPT           1010
#define IDC_DECLINE          1011

/* Program group page. */
#define IDC_GROUP_NAME    1012
#define IDC_GROUP_LIST    1013

/* Copying page. */
#define IDC_PROGRESS      1015
#define IDC_STATUS_TEXT   1023

/* Destination page. */
#define IDC_BROWSE        1016
#define IDC_DEST_DIR      1019
#define IDC_SPACE_TEXT    1024

/* Finish page. */
#define IDC_DESKTOP_LINK  1020
#define IDC_STARTUP_LINK  1021
#define IDC_RUN_PROGRAM   1022
#define IDC_ASSOCIATE     1028

/* Private page messages (WM_USER + n). */
#define MSG_SHOW_TEXT       1025
#define MSG_RUN_INSTALL     1029
#define MSG_UPDATE_PROGRESS 1030

#endif
