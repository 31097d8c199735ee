#pragma once
// The popup window as the logic of CHotListDlg sees it; each toolkit shell
// implements it. Everything is called on the user-interface thread, except
// what IUiHost allows from any thread. Texts and addresses are GBK.
#include <functional>
#include <string>

#include "app/UiHost.h"
#include "ui/Dialog.h"
#include "ui/Templates.h"
#include "ui/WindowShape.h"

struct TrayIconData {
    unsigned uID;
    int nIcon;
    const char* szTip;  // GBK
};

class IHotListView : public IUiHost, public IDialogRunner {
public:
    // The system menu gets a separator and an item; a window without a
    // system menu ignores it.
    virtual void AppendSystemMenuItem(unsigned nId, const std::string& text) = 0;
    // No taskbar button.
    virtual void SetToolWindowStyle() = 0;
    virtual void SetIcons(int nIcon) = 0;

    // The header image (0: none) and the hide button's image, which is set
    // again so that it shows on top of the header.
    virtual void SetHeaderBitmap(int nBitmap) = 0;
    virtual void SetCloseBitmap(int nBitmap) = 0;
    // The chooser's selection: an index outside 0..13 clears it.
    virtual void SetChooserSelection(int nIndex) = 0;
    virtual int GetChooserSelection() = 0;
    // The search box's whole text; false when it holds a character GBK
    // cannot hold.
    virtual bool GetSearchText(std::string& text) = 0;

    // The page view on `url`. What becomes of the page comes back through
    // CHotListDlg::OnPageLoaded and OnPageFailed.
    virtual void Navigate(const std::string& url) = 0;
    // The page view on a page the program holds itself: GBK HTML that says
    // so in its charset. Once it shows, it is reported as kszOwnPageUri; a
    // Navigate before then cancels it.
    virtual void ShowOwnPage(const std::string& html) = 0;
    // The user's web browser on `url`, without waiting.
    virtual void OpenInBrowser(const std::string& url) = 0;

    // Geometry, in pixels: the window's client size, the usable width of the
    // primary screen, the window's placement.
    virtual void GetClientSize(int& width, int& height) = 0;
    virtual int GetFullScreenWidth() = 0;
    virtual void MoveWindow(int x, int y, int width, int height) = 0;
    virtual void SetWindowShape(const CRegion& shape) = 0;

    virtual void ShowWindow(bool bShow) = 0;
    virtual void SetForegroundWindow() = 0;
    // Lets the window manager move the window with the mouse, from the
    // left-button press being handled.
    virtual void StartWindowDrag() = 0;

    virtual void AddTrayIcon(const TrayIconData& nid) = 0;
    virtual void RemoveTrayIcon(const TrayIconData& nid) = 0;
    // Opens the menu with its top-left corner at (x, y); a chosen item comes
    // back through CHotListDlg::OnCommand.
    virtual void TrackPopupMenu(const MenuItem* pItems, int nItems, int x, int y) = 0;

    // Ends the popup's modal run with `nResult`.
    virtual void EndModal(int nResult) = 0;

    // One line of the program's trace (KIVO_TRACE=1), GBK.
    virtual void TraceLine(const std::string& line) = 0;

    // From any thread: `intent` runs on the user-interface thread once the
    // popup is up (in the order posted); it is dropped when the popup never
    // comes up or has gone.
    virtual void PostIntent(std::function<void()> intent) = 0;
};
