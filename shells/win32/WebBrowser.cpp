#include "shells/win32/WinApi.h"

#include "shells/win32/WebBrowser.h"

#include <cstdio>

#include "shells/win32/Trace.h"

namespace kivo::win32 {

namespace {

// {8856F961-340A-11D0-A96B-00C04FD705A2}
const CLSID kClsidWebBrowser = {0x8856F961, 0x340A, 0x11D0, {0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2}};

// {25336920-03F9-11CF-8FD0-00AA00686F13}, the HTML document the control
// shows pages in.
const CLSID kClsidHtmlDocument = {0x25336920, 0x03F9, 0x11CF, {0x8F, 0xD0, 0x00, 0xAA, 0x00, 0x68, 0x6F, 0x13}};

constexpr DISPID kDispidNavigate = 104;
constexpr DISPID kDispidDocumentComplete = 259;
constexpr DISPID kDispidNavigateError = 271;
// The control's event interface, DWebBrowserEvents2.
const IID kDiidWebBrowserEvents2 = {0x34A715A0, 0x6587, 0x11D0, {0x92, 0x4A, 0x00, 0x20, 0xAF, 0xC7, 0xAC, 0x4D}};
// The control's stored extent, in units of 0.01 mm.
constexpr SIZEL kExtent = {4128, 3572};

constexpr const wchar_t* kWindowClass = L"KivoWebBrowser2";

std::string Hex(HRESULT hr) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}

template <typename T>
void ReleaseRef(T*& p) {
    if (p != nullptr) p->Release();
    p = nullptr;
}

// An event's argument, by reference or not.
const VARIANT& Deref(const VARIANT& v) {
    return v.vt == (VT_VARIANT | VT_BYREF) && v.pvarVal != nullptr ? *v.pvarVal : v;
}

std::string TextOf(const VARIANT& arg) {
    const VARIANT& v = Deref(arg);
    BSTR text = v.vt == VT_BSTR                                         ? v.bstrVal
                : v.vt == (VT_BSTR | VT_BYREF) && v.pbstrVal != nullptr ? *v.pbstrVal
                                                                        : nullptr;
    return text != nullptr ? ToGbk(std::wstring(text, SysStringLen(text))) : std::string();
}

long NumberOf(const VARIANT& arg) {
    const VARIANT& v = Deref(arg);
    return v.vt == VT_I4 ? v.lVal : 0;
}

IDispatch* DispatchOf(const VARIANT& arg) {
    const VARIANT& v = Deref(arg);
    return v.vt == VT_DISPATCH ? v.pdispVal : nullptr;
}

}  // namespace

// The sink of the control's events: the two the popup hears, the rest
// answered and dropped. It outlives its control only as long as the control
// holds it.
class CWebBrowser2::CEvents final : public IDispatch {
public:
    explicit CEvents(CWebBrowser2* pOwner) : m_pOwner(pOwner) {}
    CEvents(const CEvents&) = delete;
    CEvents& operator=(const CEvents&) = delete;
    void Detach() { m_pOwner = nullptr; }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (!IsEqualIID(riid, IID_IUnknown) && !IsEqualIID(riid, IID_IDispatch) &&
            !IsEqualIID(riid, kDiidWebBrowserEvents2))
            return E_NOINTERFACE;
        *ppv = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_cRef; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --m_cRef;
        if (n == 0) delete this;
        return n;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* pctinfo) override {
        if (pctinfo != nullptr) *pctinfo = 0;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispid, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                     UINT*) override {
        if (m_pOwner == nullptr || params == nullptr || params->rgvarg == nullptr) return S_OK;
        // Arguments come last first.
        const VARIANTARG* args = params->rgvarg;
        if (dispid == kDispidNavigateError && params->cArgs >= 5) {
            // (pDisp, URL, TargetFrameName, StatusCode, Cancel)
            if (!m_pOwner->IsTopLevel(DispatchOf(args[4])) && !TextOf(args[2]).empty()) return S_OK;
            // Never the control's own error page.
            if (args[0].vt == (VT_BOOL | VT_BYREF) && args[0].pboolVal != nullptr) *args[0].pboolVal = VARIANT_TRUE;
            m_pOwner->PostPageEvent(true, TextOf(args[3]), "status " + Hex(NumberOf(args[1])));
        } else if (dispid == kDispidDocumentComplete && params->cArgs >= 2) {
            // (pDisp, URL)
            if (m_pOwner->IsTopLevel(DispatchOf(args[1]))) m_pOwner->PostPageEvent(false, TextOf(args[0]), {});
        }
        return S_OK;
    }

private:
    ULONG m_cRef = 1;
    CWebBrowser2* m_pOwner;
};

// The container side of the control: client site and in-place site, and
// the frame as an inner object. The control keeps references to them; the
// object goes with its last reference.
class CWebBrowser2::CSite final : public IOleClientSite, public IOleInPlaceSite {
public:
    CSite(HWND hWnd, HWND hFrame) : m_hWnd(hWnd), m_frame(*this, hFrame) {}
    CSite(const CSite&) = delete;
    CSite& operator=(const CSite&) = delete;

    IOleInPlaceActiveObject* ActiveObject() const { return m_pActive; }
    void Detach() {
        ReleaseRef(m_pActive);
        m_hWnd = nullptr;
    }

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
        if (ppv == nullptr) return E_POINTER;
        *ppv = nullptr;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IOleClientSite))
            *ppv = static_cast<IOleClientSite*>(this);
        else if (IsEqualIID(riid, IID_IOleWindow) || IsEqualIID(riid, IID_IOleInPlaceSite))
            *ppv = static_cast<IOleInPlaceSite*>(this);
        else if (IsEqualIID(riid, IID_IOleInPlaceFrame) || IsEqualIID(riid, IID_IOleInPlaceUIWindow))
            *ppv = static_cast<IOleInPlaceFrame*>(&m_frame);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_cRef; }
    ULONG STDMETHODCALLTYPE Release() override {
        const ULONG n = --m_cRef;
        if (n == 0) {
            if (m_pActive != nullptr) m_pActive->Release();
            delete this;
        }
        return n;
    }

    // IOleClientSite
    HRESULT STDMETHODCALLTYPE SaveObject() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetMoniker(DWORD, DWORD, IMoniker** ppmk) override {
        if (ppmk != nullptr) *ppmk = nullptr;
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE GetContainer(IOleContainer** ppContainer) override {
        if (ppContainer != nullptr) *ppContainer = nullptr;
        return E_NOINTERFACE;
    }
    HRESULT STDMETHODCALLTYPE ShowObject() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnShowWindow(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow
    HRESULT STDMETHODCALLTYPE GetWindow(HWND* phwnd) override {
        if (phwnd == nullptr) return E_POINTER;
        *phwnd = m_hWnd;
        return m_hWnd != nullptr ? S_OK : E_FAIL;
    }
    HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    HRESULT STDMETHODCALLTYPE CanInPlaceActivate() override { return m_hWnd != nullptr ? S_OK : S_FALSE; }
    HRESULT STDMETHODCALLTYPE OnInPlaceActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnUIActivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetWindowContext(IOleInPlaceFrame** ppFrame, IOleInPlaceUIWindow** ppDoc,
                                               LPRECT lprcPosRect, LPRECT lprcClipRect,
                                               LPOLEINPLACEFRAMEINFO lpFrameInfo) override {
        if (ppFrame != nullptr) {
            *ppFrame = &m_frame;
            m_frame.AddRef();
        }
        if (ppDoc != nullptr) *ppDoc = nullptr;
        RECT client{};
        if (m_hWnd != nullptr) GetClientRect(m_hWnd, &client);
        if (lprcPosRect != nullptr) *lprcPosRect = client;
        if (lprcClipRect != nullptr) *lprcClipRect = client;
        if (lpFrameInfo != nullptr) {
            lpFrameInfo->fMDIApp = FALSE;
            lpFrameInfo->hwndFrame = m_frame.Window();
            lpFrameInfo->haccel = nullptr;
            lpFrameInfo->cAccelEntries = 0;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Scroll(SIZE) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnUIDeactivate(BOOL) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE OnInPlaceDeactivate() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE DiscardUndoState() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE DeactivateAndUndo() override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE OnPosRectChange(LPCRECT) override { return S_OK; }

private:
    // The dialog as the control's frame: no menus, no tool space, no
    // accelerators of its own.
    class CFrame final : public IOleInPlaceFrame {
    public:
        CFrame(CSite& site, HWND hWnd) : m_site(site), m_hFrame(hWnd) {}
        CFrame(const CFrame&) = delete;
        CFrame& operator=(const CFrame&) = delete;
        HWND Window() const { return m_hFrame; }

        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
            return m_site.QueryInterface(riid, ppv);
        }
        ULONG STDMETHODCALLTYPE AddRef() override { return m_site.AddRef(); }
        ULONG STDMETHODCALLTYPE Release() override { return m_site.Release(); }

        HRESULT STDMETHODCALLTYPE GetWindow(HWND* phwnd) override {
            if (phwnd == nullptr) return E_POINTER;
            *phwnd = m_hFrame;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
        HRESULT STDMETHODCALLTYPE RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
        HRESULT STDMETHODCALLTYPE SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE SetActiveObject(IOleInPlaceActiveObject* pActiveObject, LPCOLESTR) override {
            if (pActiveObject != nullptr) pActiveObject->AddRef();
            if (m_site.m_pActive != nullptr) m_site.m_pActive->Release();
            m_site.m_pActive = pActiveObject;
            return S_OK;
        }
        HRESULT STDMETHODCALLTYPE InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE RemoveMenus(HMENU) override { return E_NOTIMPL; }
        HRESULT STDMETHODCALLTYPE SetStatusText(LPCOLESTR) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE EnableModeless(BOOL) override { return S_OK; }
        HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    private:
        CSite& m_site;
        HWND m_hFrame;
    };

    ULONG m_cRef = 1;
    HWND m_hWnd;
    CFrame m_frame;
    IOleInPlaceActiveObject* m_pActive = nullptr;
};

CWebBrowser2::~CWebBrowser2() { Destroy(); }

const CLSID& CWebBrowser2::GetClsid() { return kClsidWebBrowser; }

bool CWebBrowser2::Create(HWND hParent, const TemplateItem& item, const RECT& rect, HWND hInsertAfter) {
    static const ATOM atom = [] {
        WNDCLASSW wc{};
        wc.lpfnWndProc = &CWebBrowser2::WindowProc;
        wc.hInstance = ResourceModule();
        wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
        wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_WINDOW + 1));
        wc.lpszClassName = kWindowClass;
        return RegisterClassW(&wc);
    }();
    if (atom == 0) return false;
    m_hWnd = CreateWindowExW(item.exStyle, kWindowClass, L"", item.style | WS_CHILD | WS_CLIPCHILDREN, rect.left,
                             rect.top, rect.right - rect.left, rect.bottom - rect.top, hParent,
                             reinterpret_cast<HMENU>(static_cast<INT_PTR>(item.id)), ResourceModule(), this);
    if (m_hWnd == nullptr) return false;
    SetWindowPos(m_hWnd, hInsertAfter, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    RegisterMessageFilter(m_hWnd, this);

    m_pSite = new CSite(m_hWnd, hParent);
    HRESULT hr = CoCreateInstance(kClsidWebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                  reinterpret_cast<void**>(&m_pObject));
    const char* step = "create";
    if (SUCCEEDED(hr)) {
        step = "site";
        hr = m_pObject->SetClientSite(m_pSite);
    }
    if (SUCCEEDED(hr)) {
        step = "init";
        IPersistStreamInit* pInit = nullptr;
        hr = m_pObject->QueryInterface(IID_IPersistStreamInit, reinterpret_cast<void**>(&pInit));
        if (SUCCEEDED(hr)) {
            hr = pInit->InitNew();
            pInit->Release();
        }
    }
    if (SUCCEEDED(hr)) {
        OleSetContainedObject(m_pObject, TRUE);
        SIZEL extent = kExtent;
        m_pObject->SetExtent(DVASPECT_CONTENT, &extent);
        step = "activate";
        RECT client{};
        GetClientRect(m_hWnd, &client);
        hr = m_pObject->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, m_pSite, 0, m_hWnd, &client);
    }
    if (SUCCEEDED(hr)) {
        step = "dispatch";
        hr = m_pObject->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&m_pDispatch));
    }
    if (SUCCEEDED(hr)) {
        m_pObject->QueryInterface(IID_IOleInPlaceObject, reinterpret_cast<void**>(&m_pInPlaceObject));
        // The page events; without them the control works as before.
        IConnectionPointContainer* pContainer = nullptr;
        if (SUCCEEDED(
                m_pObject->QueryInterface(IID_IConnectionPointContainer, reinterpret_cast<void**>(&pContainer)))) {
            if (SUCCEEDED(pContainer->FindConnectionPoint(kDiidWebBrowserEvents2, &m_pEventPoint))) {
                m_pEvents = new CEvents(this);
                if (FAILED(m_pEventPoint->Advise(m_pEvents, &m_dwEventCookie))) m_dwEventCookie = 0;
            }
            pContainer->Release();
        }
        Trace(m_dwEventCookie != 0 ? "browser created" : "browser created, without its events");
        return true;
    }
    Trace("browser not created: " + std::string(step) + " " + Hex(hr));
    Destroy();
    return false;
}

void CWebBrowser2::Destroy() {
    if (m_pEvents != nullptr) m_pEvents->Detach();
    if (m_pEventPoint != nullptr && m_dwEventCookie != 0) m_pEventPoint->Unadvise(m_dwEventCookie);
    m_dwEventCookie = 0;
    ReleaseRef(m_pEventPoint);
    ReleaseRef(m_pEvents);
    ReleaseRef(m_pDispatch);
    if (m_pInPlaceObject != nullptr) m_pInPlaceObject->InPlaceDeactivate();
    ReleaseRef(m_pInPlaceObject);
    if (m_pObject != nullptr) {
        m_pObject->Close(OLECLOSE_NOSAVE);
        m_pObject->SetClientSite(nullptr);
    }
    ReleaseRef(m_pObject);
    if (m_pSite != nullptr) {
        m_pSite->Detach();
        m_pSite->Release();
        m_pSite = nullptr;
    }
}

HRESULT CWebBrowser2::Navigate(const char* szUrl, VARIANT* Flags, VARIANT* TargetFrameName, VARIANT* PostData,
                               VARIANT* Headers) {
    if (m_pDispatch == nullptr) return E_FAIL;
    const std::wstring wide = FromGbk(szUrl != nullptr ? szUrl : "");
    BSTR url = SysAllocStringLen(wide.data(), static_cast<UINT>(wide.size()));
    // Arguments go last first.
    VARIANTARG args[5];
    VARIANT* byRef[4] = {Headers, PostData, TargetFrameName, Flags};
    for (int i = 0; i < 4; ++i) {
        VariantInit(&args[i]);
        args[i].vt = VT_VARIANT | VT_BYREF;
        args[i].pvarVal = byRef[i];
    }
    VariantInit(&args[4]);
    args[4].vt = VT_BSTR;
    args[4].bstrVal = url;
    DISPPARAMS params{args, nullptr, 5, 0};
    const HRESULT hr = m_pDispatch->Invoke(kDispidNavigate, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                           nullptr, nullptr, nullptr);
    SysFreeString(url);
    return hr;
}

bool CWebBrowser2::HasEngine() {
    if (m_nEngine < 0) {
        IUnknown* pDocument = nullptr;
        m_nEngine = SUCCEEDED(CoCreateInstance(kClsidHtmlDocument, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                               reinterpret_cast<void**>(&pDocument)))
                        ? 1
                        : 0;
        if (pDocument != nullptr) pDocument->Release();
    }
    return m_nEngine == 1;
}

bool CWebBrowser2::IsTopLevel(IDispatch* pDisp) const {
    if (pDisp == nullptr || m_pObject == nullptr) return false;
    IUnknown* pThat = nullptr;
    IUnknown* pThis = nullptr;
    pDisp->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pThat));
    m_pObject->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&pThis));
    const bool same = pThat != nullptr && pThat == pThis;
    if (pThat != nullptr) pThat->Release();
    if (pThis != nullptr) pThis->Release();
    return same;
}

void CWebBrowser2::PostPageEvent(bool bFailed, const std::string& url, const std::string& reason) {
    // Heard later, outside the control's own call: the page view may be
    // given another page then.
    if (m_hNotify == nullptr) return;
    auto* event = new PageEvent{bFailed, url, reason};
    if (!PostMessageW(m_hNotify, m_nNotifyMessage, 0, reinterpret_cast<LPARAM>(event))) delete event;
}

bool CWebBrowser2::PreTranslateMessage(MSG& msg) {
    if (msg.message != WM_RBUTTONUP) return false;
    Trace("right button consumed");
    return true;
}

bool CWebBrowser2::TranslateAccelerator(MSG& msg) {
    IOleInPlaceActiveObject* pActive = m_pSite != nullptr ? m_pSite->ActiveObject() : nullptr;
    if (pActive == nullptr || m_hWnd == nullptr) return false;
    if (msg.message < WM_KEYFIRST || msg.message > WM_KEYLAST) return false;
    if (msg.hwnd != m_hWnd && !IsChild(m_hWnd, msg.hwnd)) return false;
    return pActive->TranslateAccelerator(&msg) == S_OK;
}

void CWebBrowser2::OnSize() {
    if (m_pInPlaceObject == nullptr) return;
    RECT client{};
    GetClientRect(m_hWnd, &client);
    m_pInPlaceObject->SetObjectRects(&client, &client);
}

void CWebBrowser2::OnSetFocus() {
    // The keyboard goes on to the control, which takes it in its own window.
    if (m_pObject == nullptr || m_pSite == nullptr) return;
    RECT client{};
    GetClientRect(m_hWnd, &client);
    m_pObject->DoVerb(OLEIVERB_UIACTIVATE, nullptr, m_pSite, 0, m_hWnd, &client);
}

LRESULT CALLBACK CWebBrowser2::WindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        SetWindowLongPtrW(hWnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<CWebBrowser2*>(GetWindowLongPtrW(hWnd, GWLP_USERDATA));
    if (self != nullptr) {
        switch (message) {
            case WM_SIZE:
                self->OnSize();
                break;
            case WM_SETFOCUS:
                self->OnSetFocus();
                break;
            case WM_NCDESTROY:
                UnregisterMessageFilter(hWnd);
                self->Destroy();
                self->m_hWnd = nullptr;
                SetWindowLongPtrW(hWnd, GWLP_USERDATA, 0);
                break;
            default:
                break;
        }
    }
    return DefWindowProcW(hWnd, message, wParam, lParam);
}

}  // namespace kivo::win32
