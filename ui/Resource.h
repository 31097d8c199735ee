#pragma once
// Identifiers shared by the user-interface logic and the toolkit shells:
// templates, controls, bitmaps and menu commands, the program's own numbers.
// No toolkit's messages, keys or notification codes: the shells turn those
// into the logic's intents (ui/HotListDlg.h, ui/Dialog.h).

// Dialog templates, string, icon and menu.
enum : int {
    IDD_ABOUTBOX = 100,
    IDS_ABOUTBOX = 101,
    IDD_KIVO_DIALOG = 102,
    IDR_MAINFRAME = 128,  // the application icon
    IDD_SETTINGS = 131,
    IDD_SYSSETTINGS = 132,
    IDR_MENU_TRAY = 167,
};

// Bitmaps of the popup's skin.
enum : int {
    IDB_HEADER = 129,  // banner of list 1, the header's template image
    IDB_RIGHT_EDGE = 137,
    IDB_VISIT = 139,
    IDB_BOTTOM_BAR = 140,
    IDB_LEFT_EDGE = 142,
    IDB_STRIP_BOTTOM = 143,
    IDB_STRIP_SEARCH = 144,
    IDB_CAPTION_SEARCH = 145,
    IDB_STRIP_CHOOSER = 146,
    IDB_CAPTION_CHOOSE = 147,
    IDB_SEARCH = 150,
    IDB_CLOSE = 151,
    IDB_FILLER_SEARCH = 168,
    IDB_FILLER_CHOOSER = 169,
    IDB_STRIP_TOP = 170,
};

// Controls.
enum : int {
    // The OK and Cancel buttons; a dialog's result is the id of the button
    // that ended it.
    IDC_OK = 1,
    IDC_CANCEL = 2,
    IDC_BROWSER = 1001,
    IDC_CATEGORY = 1002,
    IDC_SEARCH_TEXT = 1003,
    IDC_SET_CATEGORY = 1006,
    IDC_EMAIL = 1007,
    IDC_ADVANCED = 1008,
    IDC_AUTORUN = 1009,
    IDC_CHECKUPDATE = 1010,
    IDC_VISIT = 1011,
    IDC_CLOSE = 1012,
    IDC_HEADER = 1013,
    IDC_SEARCH = 1014,
    IDC_STATIC = -1,
};

// Commands: the tray menu's items and the system menu's About item.
enum : unsigned {
    IDM_ABOUTBOX = 0x0010,
    ID_VISIT_SITE = 32771,
    ID_SETTINGS = 32772,
    ID_EXIT = 32773,
    ID_ABOUT = 32775,
};

// The tray icon's id.
enum : unsigned { kTrayIconId = 128 };
