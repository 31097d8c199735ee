#pragma once
// The dialog templates (popup 102, settings 131, system settings 132, About
// 100) and the tray menu 167, as data. Rectangles are in dialog units of the
// 9-point template font; at 96 dots per inch one unit is 1.5 pixels both ways.
// The toolkit shells build their windows from these tables; the Windows
// resources are written from them at build time (res/win32/make_rc.cpp).

enum class ItemKind {
    ImageStatic,    // a bitmap, transparent to the mouse
    ImageButton,    // a bitmap that reports a click with its id
    Browser,        // the page view
    DropList,       // a drop-down list that is not sorted
    Edit,           // a one-line edit box with a border
    DefPushButton,  // the default push button
    PushButton,
    Text,      // a static text
    CheckBox,  // a two-state check box that toggles itself
    Icon,      // the application icon
};

// Initial entries of a drop-down list.
enum class ListData { None, PopupNames, SettingsNames };

// What an item has beyond its kind.
enum ItemOption : unsigned {
    kItemWantsReturn = 1,  // an edit box that takes the Enter key
    kItemNoPrefix = 2,     // a static text that shows its ampersands as they are
};

struct DialogItem {
    int nId;  // IDC_STATIC (-1) for items without one
    ItemKind kind;
    int x, y, cx, cy;    // dialog units; cy of a list includes its dropped part
    int nBitmap;         // image items: the bitmap id
    const char* szText;  // GBK; null when the item has no text
    ListData list;
    unsigned options = 0;  // ItemOption bits
};

struct DialogTemplate {
    int nId;
    int cx, cy;                // dialog units
    const char* szCaption;     // GBK; empty for the popup
    const DialogItem* pItems;  // template order: z-order from the top, tab order
    int nItems;
};

const DialogTemplate* FindTemplate(int nId);

struct PixelRect {
    int x, y, width, height;
};

// Pixels at 1.5 per unit: an item's edges fall on the pixel below, a
// window's size is rounded up so that nothing of its last unit is lost.
PixelRect ItemPixels(const DialogItem& item);
void WindowPixels(const DialogTemplate& dlg, int& width, int& height);
int DluToPixels(int dlu);

// Menu 167's popup. A zero id is a separator.
struct MenuItem {
    unsigned nId;
    const char* szText;  // GBK
};
extern const MenuItem g_trayMenu[];
extern const int g_nTrayMenuItems;
