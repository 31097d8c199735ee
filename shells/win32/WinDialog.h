#pragma once
// The least dialog framework the program needs, over the Win32 dialog
// manager: a modal run of a dialog template with a modal loop of its own, the
// controls reached by id, a message map, and filters that see each queued
// message before it is dispatched (PreTranslateMessage).
//
// A template may name an ActiveX control by its CLSID where a window class
// stands. The dialog manager cannot create such an item, so the framework
// takes it out of the template before the manager sees it and hands it to the
// dialog, which creates the control in the item's rectangle, at the item's
// place in the z-order (and so in the tab order).
#include "shells/win32/WinApi.h"

#include <optional>
#include <vector>

#include "shells/win32/DialogTemplate.h"

namespace kivo::win32 {

// A window that sees the queued messages for itself and its descendants
// before they are dispatched.
class IMessageFilter {
public:
    virtual ~IMessageFilter() = default;
    // True when the message is consumed: it is then not dispatched.
    virtual bool PreTranslateMessage(MSG& msg) = 0;
};

void RegisterMessageFilter(HWND hWnd, IMessageFilter* pFilter);
void UnregisterMessageFilter(HWND hWnd);

// Each filter on the way from the message's target up through its parents to
// its top-level window, innermost first; then, for a message to another
// top-level window, the main window's filter. True when one consumed it.
bool WalkPreTranslateTree(MSG& msg);

// A dialog template as the framework runs it: the template without its
// ActiveX items, those items with the number of ordinary items before each,
// and the initialisation data.
struct LoadedTemplate {
    DialogTemplateEx dlg;
    struct OleItem {
        TemplateItem item;
        std::size_t nItemsBefore;
    };
    std::vector<OleItem> oleItems;
    std::vector<DialogInitEntry> init;
};

std::optional<LoadedTemplate> LoadDialogTemplate(int nTemplateId);

class CWinDialog : public IMessageFilter {
public:
    explicit CWinDialog(int nTemplateId) : m_nTemplateId(nTemplateId) {}
    ~CWinDialog() override;
    CWinDialog(const CWinDialog&) = delete;
    CWinDialog& operator=(const CWinDialog&) = delete;

    // Creates the dialog over `hOwner` (null: none), which is disabled while
    // the dialog runs, runs the modal loop until EndDialog, a quit message or
    // the end of the window, and destroys the window. Returns the result of
    // EndDialog; -1 when the window could not be made or a quit message
    // ended the run.
    int DoModal(HWND hOwner);
    // Ends this run, and every run started inside it, with `nResult` (the
    // inner ones with IDCANCEL).
    void EndDialog(int nResult);

    HWND GetSafeHwnd() const { return m_hWnd; }
    HWND GetDlgItem(int nId) const { return m_hWnd != nullptr ? ::GetDlgItem(m_hWnd, nId) : nullptr; }
    int TemplateId() const { return m_nTemplateId; }

    // The window whose filter also sees the messages of other top-level
    // windows: the application's main window.
    static void SetMainWindow(CWinDialog* pDlg);
    // Set once a quit message has been taken: runs started afterwards end at once.
    static bool Quitting();

    // The dialog's keyboard interface and the controls' messages: input
    // messages for the dialog or its controls go to IsDialogMessage.
    bool PreTranslateMessage(MSG& msg) override;

protected:
    // WM_INITDIALOG, after the ActiveX items were created and the
    // initialisation data sent: TRUE lets the dialog manager set the focus.
    virtual BOOL OnInitDialog() { return TRUE; }
    // An ActiveX item of the template: `rect` is its rectangle in pixels and
    // `hInsertAfter` the window it follows in the z-order (HWND_TOP: first).
    virtual void CreateOleControl(const TemplateItem&, const RECT&, HWND) {}
    // The message map: true when handled, with the dialog procedure's
    // answer in `result`. Messages it leaves go to the framework's own
    // handlers (IDOK, IDCANCEL) and then to the dialog manager.
    virtual bool OnMessage(UINT, WPARAM, LPARAM, INT_PTR&) { return false; }
    virtual void OnOK() { EndDialog(IDOK); }
    virtual void OnCancel() { EndDialog(IDCANCEL); }

    HWND m_hWnd = nullptr;

private:
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleInitDialog(HWND hWnd);
    void CreateOleItems();
    void ExecuteDlgInit();
    void CenterWindow();
    int RunModalLoop();

    const int m_nTemplateId;
    std::optional<LoadedTemplate> m_template;
    bool m_bContinueModal = false;
    int m_nResult = -1;
};

}  // namespace kivo::win32
