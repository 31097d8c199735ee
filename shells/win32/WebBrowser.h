#pragma once
// CWebBrowser2: the Microsoft WebBrowser ActiveX control in a dialog, hosted
// by a minimal OLE container (client site, in-place site and frame) and
// driven only through its Navigate method.
//
// The control lives in a window of its own that stands for the template
// item: it has the item's id, styles and rectangle and its place in the
// z-order and tab order. Should the control not be created (no such class,
// or an engine that does not start), that window stays, blank, and Navigate
// does nothing, so that the rest of the dialog works as before.
#include "shells/win32/WinApi.h"

#include "shells/win32/WinDialog.h"

namespace kivo::win32 {

class CWebBrowser2 final : public IMessageFilter {
public:
    CWebBrowser2() = default;
    ~CWebBrowser2() override;
    CWebBrowser2(const CWebBrowser2&) = delete;
    CWebBrowser2& operator=(const CWebBrowser2&) = delete;

    static const CLSID& GetClsid();

    // Makes the item's window in `hParent` and creates the control in it:
    // no persisted state beyond its extent, no licence key. False when the
    // control could not be created; the window is made all the same.
    bool Create(HWND hParent, const TemplateItem& item, const RECT& rect, HWND hInsertAfter);
    // Deactivates and releases the control; the window goes with its parent.
    void Destroy();

    HWND GetSafeHwnd() const { return m_hWnd; }
    bool HasControl() const { return m_pDispatch != nullptr; }

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
    static LRESULT CALLBACK WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    void OnSize();
    void OnSetFocus();

    HWND m_hWnd = nullptr;
    CSite* m_pSite = nullptr;
    IOleObject* m_pObject = nullptr;
    IOleInPlaceObject* m_pInPlaceObject = nullptr;
    IDispatch* m_pDispatch = nullptr;
};

}  // namespace kivo::win32
