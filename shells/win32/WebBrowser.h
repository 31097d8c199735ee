#pragma once
// CWebBrowser2: the Microsoft WebBrowser ActiveX control in a dialog, hosted
// by a minimal OLE container (client site, in-place site and frame), driven
// through its Navigate method and heard through two of its events: the page
// shown (DocumentComplete) and the page that could not be had
// (NavigateError, whose own error page is cancelled).
//
// The control lives in a window of its own that stands for the template
// item: it has the item's id, styles and rectangle and its place in the
// z-order and tab order. Should the control not be created (no such class,
// or an engine that does not start), that window stays, blank, and Navigate
// does nothing, so that the rest of the dialog works as before.
#include "shells/win32/WinApi.h"

#include <ocidl.h>

#include <string>

#include "shells/win32/WinDialog.h"

namespace kivo::win32 {

// What the control reports of its top-level page, posted to the window that
// asked for the reports; the receiver takes the object over (delete).
struct PageEvent {
    bool bFailed;
    std::string url;     // in the system code page
    std::string reason;  // of a failure: the control's status code
};

class CWebBrowser2 final : public IMessageFilter {
public:
    CWebBrowser2() = default;
    ~CWebBrowser2() override;
    CWebBrowser2(const CWebBrowser2&) = delete;
    CWebBrowser2& operator=(const CWebBrowser2&) = delete;

    static const CLSID& GetClsid();

    // Where the page events go: `message` to `hNotify`, a PageEvent* as the
    // LPARAM. Set before Create.
    void SetEventTarget(HWND hNotify, UINT message) {
        m_hNotify = hNotify;
        m_nNotifyMessage = message;
    }

    // Makes the item's window in `hParent` and creates the control in it:
    // no persisted state beyond its extent, no licence key. False when the
    // control could not be created; the window is made all the same.
    bool Create(HWND hParent, const TemplateItem& item, const RECT& rect, HWND hInsertAfter);
    // Deactivates and releases the control; the window goes with its parent.
    void Destroy();

    HWND GetSafeHwnd() const { return m_hWnd; }
    bool HasControl() const { return m_pDispatch != nullptr; }
    // Whether the system has the engine that shows HTML documents (Wine
    // without Gecko has none: the control then fails every page).
    bool HasEngine();

    // Dispatch method 104 with the address as a BSTR made from the system
    // code page and the four VARIANTs by reference.
    HRESULT Navigate(const char* szUrl, VARIANT* Flags, VARIANT* TargetFrameName, VARIANT* PostData, VARIANT* Headers);

    // The right-button filter: WM_RBUTTONUP inside the control is consumed,
    // so that the page never opens its context menu.
    bool PreTranslateMessage(MSG& msg) override;
    // The control's own keyboard handling of a key for a window inside it.
    bool TranslateAccelerator(MSG& msg);

private:
    class CSite;
    class CEvents;
    void PostPageEvent(bool bFailed, const std::string& url, const std::string& reason);
    bool IsTopLevel(IDispatch* pDisp) const;
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    void OnSize();
    void OnSetFocus();

    HWND m_hWnd = nullptr;
    CSite* m_pSite = nullptr;
    IOleObject* m_pObject = nullptr;
    IOleInPlaceObject* m_pInPlaceObject = nullptr;
    IDispatch* m_pDispatch = nullptr;
    CEvents* m_pEvents = nullptr;
    IConnectionPoint* m_pEventPoint = nullptr;
    DWORD m_dwEventCookie = 0;
    HWND m_hNotify = nullptr;
    UINT m_nNotifyMessage = 0;
    int m_nEngine = -1;  // HasEngine's answer once asked: 0 or 1
};

}  // namespace kivo::win32
