// SPDX-License-Identifier: MIT
// The numbers of the window's resources and controls, shared by the resource
// script and the code. Macros only: the resource compiler reads nothing else.
#pragma once

// Dialog templates.
#define ID_MAIN_DIALOG 102
#define ID_DOWNLOAD_DIALOG 135

// The program's icon, and the charger pictures of the two dialogs (icons too:
// they keep the pictures' colours at any depth and scale to the control).
#define ID_PROGRAM_ICON 128
#define ID_MAIN_PICTURE 134
#define ID_DOWNLOAD_PICTURE 138

// Texts of the start-up.
#define ID_TEXT_OLE_FAILED 100

// Main dialog controls (IDOK is Update, IDCANCEL is Exit).
#define ID_PATH_EDIT 1002
#define ID_OPEN_BUTTON 1003
#define ID_DEVICE_LIST 1004
#define ID_PROGRESS 1005
#define ID_INCLUDE_COM 1006
#define ID_VERSION_TEXT 1008
#define ID_TYPE_TEXT 1009
#define ID_MEMO_TEXT 1010
#define ID_FILE_MESSAGE 1011
#define ID_MEMO_LABEL 1012
#define ID_VERSION_LABEL 1013
#define ID_TYPE_LABEL 1014
#define ID_STATUS_TEXT 1015
#define ID_DOWNLOAD_BUTTON 1016
#define ID_NEW_RELEASE_LINK 1023
#define ID_SERIAL_NUMBER_CHECK 1025
#define ID_SERIAL_NUMBER_EDIT 1026
#define ID_SET_SERIAL_NUMBER 1027
#define ID_MAIN_PICTURE_CONTROL 1030

// Download dialog controls (IDOK is Download, IDCANCEL is Exit).
#define ID_SAVE_AS_EDIT 1002
#define ID_UPDATE_LIST 1004
#define ID_BROWSE_BUTTON 1016
#define ID_DOWNLOAD_STATUS 1022
#define ID_RELEASE_NOTES_LINK 1024
#define ID_DOWNLOAD_PICTURE_CONTROL 1031
