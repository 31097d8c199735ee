#pragma once
// Identifiers shared by the user-interface logic and the toolkit shells:
// templates, controls, bitmaps, menu commands and the window messages the
// logic is told about.

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
    IDOK = 1,
    IDCANCEL = 2,
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

// Notification codes of control commands.
enum : int {
    BN_CLICKED = 0,  // also a click on an image button, and a menu command
    CBN_SELCHANGE = 1,
    EN_SETFOCUS = 0x0100,
};

// The tray icon's id and callback message, and the mouse messages the
// callback carries.
enum : unsigned {
    kTrayIconId = 128,
    WM_USER = 0x0400,
    WM_TRAYNOTIFY = WM_USER + 5,
    WM_LBUTTONDOWN = 0x0201,
    WM_LBUTTONUP = 0x0202,
    WM_LBUTTONDBLCLK = 0x0203,
    WM_RBUTTONDOWN = 0x0204,
    WM_RBUTTONUP = 0x0205,
};

// Virtual keys the popup's key filter looks at.
enum : unsigned {
    VK_RETURN = 13,
    VK_ESCAPE = 27,
};
