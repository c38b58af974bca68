/* Resource ids and the controller dialog's template styles, shared by the resource script,
   the program, the simulated machine and the tests. Plain C preprocessor only: the resource
   compiler reads this file too. */
#ifndef BIOSUPDATE_RESOURCE_H
#define BIOSUPDATE_RESOURCE_H

#define IDD_BIOSUPDATE_DIALOG 102
#define IDI_MAINFRAME 128
#define IDB_PROGRESS_MARK 132
#define IDB_BACKGROUND_KOREAN 134
#define IDB_BACKGROUND_ENGLISH 135
#define IDR_FLASH_TOOL 172
#define IDR_CAPSULE 177

/* WS_POPUP | WS_VISIBLE | DS_SETFONT, and WS_EX_APPWINDOW. */
#define IDD_BIOSUPDATE_DIALOG_STYLE 0x90000040L
#define IDD_BIOSUPDATE_DIALOG_EXSTYLE 0x00040000L

#endif
