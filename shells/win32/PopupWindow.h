#pragma once
// The popup CHotListDlg on Win32: dialog template 102 run modally for the
// life of the process, the table that turns its messages into the logic's
// intents, the key filter in its modal loop, the WebBrowser control in the
// place of item 1001 with the program's own page written to a file, the tray
// icon and menu 167, its timers and the requests worker threads make of it.
#include "shells/win32/WinApi.h"

#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

#include "shells/win32/SmallDialog.h"
#include "shells/win32/WebBrowser.h"
#include "shells/win32/WinDialog.h"

namespace kivo::win32 {

class CPopupWindow final : public CWinDialog, public IHotListView {
public:
    CPopupWindow();
    ~CPopupWindow() override;

    // Runs the popup with `dlg` as its logic until its modal run ends; the
    // window is destroyed then.
    int DoModal(CHotListDlg& dlg);

    // A later copy's message ("show", "settings", "about", "exit"), from any
    // thread: the logic takes it on the popup's thread once the window runs.
    void PostLaterCopy(const std::string& message);

    // IUiHost
    void SetTimer(unsigned nIDEvent, unsigned nElapseMs) override;
    void KillTimer(unsigned nIDEvent) override;
    void ShowNotice(const char* szText, const char* szCaption) override;
    void PostQuit() override;

    // IDialogRunner
    int RunModal(CDialogBase& dlg) override { return m_runner.RunModal(dlg); }

    // IHotListView
    void AppendSystemMenuItem(unsigned nId, const std::string& text) override;
    void SetToolWindowStyle() override;
    void SetIcons(int nIcon) override;
    void SetHeaderBitmap(int nBitmap) override;
    void SetCloseBitmap(int nBitmap) override;
    void SetChooserSelection(int nIndex) override;
    int GetChooserSelection() override;
    bool GetSearchText(std::string& text) override;
    void Navigate(const std::string& url) override;
    void ShowOwnPage(const std::string& html) override;
    void OpenInBrowser(const std::string& url) override;
    void GetClientSize(int& width, int& height) override;
    int GetFullScreenWidth() override;
    void MoveWindow(int x, int y, int width, int height) override;
    void SetWindowShape(const CRegion& shape) override;
    void ShowWindow(bool bShow) override;
    void SetForegroundWindow() override;
    void StartWindowDrag() override;
    void AddTrayIcon(const TrayIconData& nid) override;
    void RemoveTrayIcon(const TrayIconData& nid) override;
    void TrackPopupMenu(const MenuItem* pItems, int nItems, int x, int y) override;
    void EndModal(int nResult) override { EndDialog(nResult); }
    void TraceLine(const std::string& line) override;
    void PostIntent(std::function<void()> intent) override;

    // The key filter, then the browser's keys and the dialog's navigation.
    bool PreTranslateMessage(MSG& msg) override;

protected:
    BOOL OnInitDialog() override;
    void CreateOleControl(const TemplateItem& item, const RECT& rect, HWND hInsertAfter) override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    void OnOK() override;
    void OnCancel() override;

private:
    // True when handled, with the answer in the last argument; false lets the
    // dialog manager's handling follow.
    using Handler = bool (CPopupWindow::*)(WPARAM, LPARAM, INT_PTR&);
    struct EventEntry {
        UINT message;
        UINT nCode;  // WM_COMMAND: the notification code
        UINT nId;    // WM_COMMAND: the control, 0 for any
        Handler handler;
    };
    static const EventEntry kEvents[];

    bool OnSysCommand(WPARAM, LPARAM, INT_PTR&);
    bool OnPaint(WPARAM, LPARAM, INT_PTR&);
    bool OnQueryDragIcon(WPARAM, LPARAM, INT_PTR&);
    bool OnLButtonDown(WPARAM, LPARAM, INT_PTR&);
    bool OnDestroy(WPARAM, LPARAM, INT_PTR&);
    bool OnTimer(WPARAM, LPARAM, INT_PTR&);
    bool OnSelchangeCategory(WPARAM, LPARAM, INT_PTR&);
    bool OnCommand(WPARAM, LPARAM, INT_PTR&);
    bool OnTrayNotify(WPARAM, LPARAM, INT_PTR&);
    bool OnPageEvent(WPARAM, LPARAM, INT_PTR&);
    bool OnIntent(WPARAM, LPARAM, INT_PTR&);
    bool OnLaterCopy(WPARAM, LPARAM, INT_PTR&);
    // Wakes the window for the later copies' messages waiting, if any.
    void WakeForLaterCopies();

    // The browser's report on a page, as the logic takes it: the program's
    // own page by its agreed address.
    std::string ReportedUri(const std::string& url) const;

    // The id of the popup's control that holds `hWnd`; 0 for the popup.
    int ControlIdOf(HWND hWnd) const;
    void SetImage(HWND hStatic, HBITMAP& hOwned, int nBitmap);

    CHotListDlg* m_pDlg = nullptr;
    HWND m_hMainWnd = nullptr;                 // the popup while it runs, for the dialogs
    std::atomic<HWND> m_hQuitTarget{nullptr};  // where worker threads post the quit request
    CSmallDialogRunner m_runner{m_hMainWnd};

    // The window's members, bound in its initialisation.
    HBITMAP m_bmpHeader = nullptr;
    HBITMAP m_bmpClose = nullptr;
    HWND m_staticClose = nullptr;
    HWND m_staticHeader = nullptr;
    HWND m_editSearch = nullptr;
    HWND m_comboList = nullptr;
    CWebBrowser2 m_browser;
    std::string m_ownPageFile;  // where the program's own page is written
    HICON m_hIcon = nullptr;
    NOTIFYICONDATAW m_nid{};

    std::mutex m_laterMutex;
    std::vector<std::string> m_later;  // later copies' messages not yet taken

    LPARAM m_lButtonDown = 0;  // the point of the left-button press being handled
};

}  // namespace kivo::win32
