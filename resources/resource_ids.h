/* Identifiers of the component's resources, its page controls and its
   commands. Plain #defines: the resource compiler reads this file too. */
#ifndef VOST_RESOURCE_IDS_H
#define VOST_RESOURCE_IDS_H

/* Resources */
#define IDD_DEPENDENCIES_PAGE 132
#define IDI_PAGE_ICON 136
#define IDR_MODULE_MENU 137
#define IDB_STATE_IMAGES 138
#define IDD_FUNCTIONS 139
#define IDD_RUN_RECORD 140

/* Column headings of the module list: strings 1 to 5 */
#define IDS_COLUMN_MODULE 1
#define IDS_COLUMN_DATE 2
#define IDS_COLUMN_FILEVERSION 3
#define IDS_COLUMN_PRODUCTVERSION 4
#define IDS_COLUMN_PATH 5

/* Page controls */
#define IDC_MODULE_TREE 1000
#define IDC_SHOW_TREE 1003
#define IDC_SHOW_LIST 1004
#define IDC_EXPLANATION 1010
#define IDC_MODULE_LIST 1012

/* Controls of the Functions dialog */
#define IDC_FUNCTION_FILTER 1020
#define IDC_UNDECORATE 1021
#define IDC_IMPORT_SECTION 1022
#define IDC_IMPORT_LIST 1023
#define IDC_EXPORT_TITLE 1024
#define IDC_EXPORT_LIST 1025
#define IDC_COPY_FUNCTIONS 1026
#define IDC_FILTER_LABEL 1027

/* Controls of the Run and Record dialog */
#define IDC_RUN_PROGRAM 1030
#define IDC_RUN_ARGUMENTS 1031
#define IDC_RUN_FOLDER 1032
#define IDC_RUN_CHILDREN 1033
#define IDC_RUN_START 1034
#define IDC_RUN_STOP 1035
#define IDC_RUN_LOG 1036
#define IDC_RUN_STATUS 1037

/* Commands */
#define IDM_SEND_FEEDBACK 1001
#define IDM_OPEN_HOME_PAGE 1002
#define IDM_EXPLORE_MODULE 32771
#define IDM_COPY_TO_CLIPBOARD 32772
#define IDM_COPY_ALL_TO_FOLDER 32773
#define IDM_COPY_PROBLEMS 32774
#define IDM_SHOW_FUNCTIONS 32775
#define IDM_RUN_AND_RECORD 32776
#define IDM_SHOW_DELAY_LOADED 32780

#endif
