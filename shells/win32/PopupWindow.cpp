#include "shells/win32/WinApi.h"

#include "shells/win32/PopupWindow.h"

#include <iterator>
#include <memory>

#include "platform/BrowserUrl.h"
#include "shells/win32/Trace.h"

namespace kivo::win32 {

namespace {

constexpr UINT U(int value) { return static_cast<UINT>(value); }

bool IsTopLevel(HWND hWnd) { return (GetWindowLongPtrW(hWnd, GWL_STYLE) & WS_CHILD) == 0; }

std::string Number(long long value) { return std::to_string(value); }

// The tray icon's callback message, the message of the browser's page
// events, and the one that tells the window later copies' messages wait.
constexpr UINT kTrayMessage = WM_USER + 5;
constexpr UINT kPageEventMessage = WM_APP + 1;
// An intent the logic posted from another thread; lParam is the
// std::function<void()> it runs, owned by the message.
constexpr UINT kIntentMessage = WM_APP + 3;
constexpr UINT kLaterCopyMessage = WM_APP + 2;
// More waiting messages than this are dropped: a later copy is a person's
// start, never a stream.
constexpr std::size_t kMostLaterMessages = 16;

// The keys the logic's key filter looks at.
struct KeyEntry {
    WPARAM vk;
    Key key;
};
constexpr KeyEntry kKeys[] = {{VK_ESCAPE, Key::Escape}, {VK_RETURN, Key::Enter}};

Key KeyOf(WPARAM vk) {
    for (const KeyEntry& entry : kKeys)
        if (entry.vk == vk) return entry.key;
    return Key::Other;
}

// The program's own page, written for the browser to show: a file name
// that tells it from every other page.
constexpr const char* kOwnPageName = "kivo-own-page.html";

bool EndsWithNoCase(const std::string& text, const std::string& end) {
    return text.size() >= end.size() && lstrcmpiA(text.c_str() + text.size() - end.size(), end.c_str()) == 0;
}

}  // namespace

// The popup's messages and the intents they are, in entry order: the first
// entry that matches a message handles it. Image buttons (SS_NOTIFY statics)
// report a click as STN_CLICKED, 0, as menu commands and the dialog
// manager's OK and Cancel do: every such command goes to the logic's
// OnCommand, which routes it.
const CPopupWindow::EventEntry CPopupWindow::kEvents[] = {
    {WM_SYSCOMMAND, 0, 0, &CPopupWindow::OnSysCommand},
    {WM_PAINT, 0, 0, &CPopupWindow::OnPaint},
    {WM_QUERYDRAGICON, 0, 0, &CPopupWindow::OnQueryDragIcon},
    {WM_LBUTTONDOWN, 0, 0, &CPopupWindow::OnLButtonDown},
    {WM_DESTROY, 0, 0, &CPopupWindow::OnDestroy},
    {WM_TIMER, 0, 0, &CPopupWindow::OnTimer},
    {WM_COMMAND, CBN_SELCHANGE, U(IDC_CATEGORY), &CPopupWindow::OnSelchangeCategory},
    {WM_COMMAND, STN_CLICKED, 0, &CPopupWindow::OnCommand},
    {kTrayMessage, 0, 0, &CPopupWindow::OnTrayNotify},
    {kPageEventMessage, 0, 0, &CPopupWindow::OnPageEvent},
    {kIntentMessage, 0, 0, &CPopupWindow::OnIntent},
    {kLaterCopyMessage, 0, 0, &CPopupWindow::OnLaterCopy},
};

CPopupWindow::CPopupWindow() : CWinDialog(IDD_KIVO_DIALOG) {
    // At the system's standard icon size; never released.
    m_hIcon = LoadIconA(ResourceModule(), MAKEINTRESOURCEA(IDR_MAINFRAME));
}

CPopupWindow::~CPopupWindow() {
    if (m_bmpClose != nullptr) DeleteObject(m_bmpClose);
    if (m_bmpHeader != nullptr) DeleteObject(m_bmpHeader);
}

int CPopupWindow::DoModal(CHotListDlg& dlg) {
    m_pDlg = &dlg;
    SetMainWindow(this);
    const int result = CWinDialog::DoModal(nullptr);
    SetMainWindow(nullptr);
    m_pDlg = nullptr;
    Trace("popup ended " + Number(result));
    return result;
}

// --- initialisation and messages ------------------------------------------

void CPopupWindow::CreateOleControl(const TemplateItem& item, const RECT& rect, HWND hInsertAfter) {
    CLSID clsid{};
    std::wstring name = item.windowClass.text;
    if (FAILED(CLSIDFromString(name.data(), &clsid)) || !IsEqualCLSID(clsid, CWebBrowser2::GetClsid())) return;
    m_browser.SetEventTarget(m_hWnd, kPageEventMessage);
    m_browser.Create(m_hWnd, item, rect, hInsertAfter);
}

BOOL CPopupWindow::OnInitDialog() {
    // The skin's images overlap one another and the controls in the
    // template's order. The controls that paint a face of their own (the
    // page, the chooser, the search box) leave out the images above them;
    // the images paint in turn, the hide button last over the header.
    char className[16];
    for (HWND hChild = ::GetWindow(m_hWnd, GW_CHILD); hChild != nullptr; hChild = ::GetWindow(hChild, GW_HWNDNEXT)) {
        if (GetClassNameA(hChild, className, sizeof className) > 0 && lstrcmpiA(className, "Static") == 0) continue;
        SetWindowLongPtrW(hChild, GWL_STYLE, GetWindowLongPtrW(hChild, GWL_STYLE) | WS_CLIPSIBLINGS);
    }
    // The controls the popup works with, by id.
    m_staticClose = GetDlgItem(IDC_CLOSE);
    m_staticHeader = GetDlgItem(IDC_HEADER);
    m_editSearch = GetDlgItem(IDC_SEARCH_TEXT);
    m_comboList = GetDlgItem(IDC_CATEGORY);
    m_hMainWnd = m_hWnd;
    m_hQuitTarget = m_hWnd;
    Trace("popup created");
    if (m_pDlg == nullptr) return TRUE;
    const bool bGoOn = m_pDlg->OnInitDialog();
    Trace(bGoOn ? "popup initialised" : "popup initialisation ended by the hand-over");
    // What came before the window was there.
    if (bGoOn) WakeForLaterCopies();
    return bGoOn ? TRUE : FALSE;
}

void CPopupWindow::PostLaterCopy(const std::string& message) {
    {
        const std::lock_guard<std::mutex> lock(m_laterMutex);
        if (m_later.size() >= kMostLaterMessages) return;
        m_later.push_back(message);
    }
    WakeForLaterCopies();
}

void CPopupWindow::WakeForLaterCopies() {
    HWND hWnd = m_hQuitTarget.load();
    bool bWaiting = false;
    {
        const std::lock_guard<std::mutex> lock(m_laterMutex);
        bWaiting = !m_later.empty();
    }
    if (hWnd != nullptr && bWaiting) PostMessageW(hWnd, kLaterCopyMessage, 0, 0);
}

bool CPopupWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    if (m_pDlg == nullptr) return false;
    for (const EventEntry& entry : kEvents) {
        if (entry.message != message) continue;
        if (message == WM_COMMAND && (HIWORD(wParam) != entry.nCode || (entry.nId != 0 && LOWORD(wParam) != entry.nId)))
            continue;
        return (this->*entry.handler)(wParam, lParam, result);
    }
    return false;
}

void CPopupWindow::OnOK() {
    if (m_pDlg != nullptr)
        m_pDlg->OnCommand(IDC_OK);
    else
        EndDialog(IDOK);
}

void CPopupWindow::OnCancel() {
    // The dialog manager's answer to a close request.
    if (m_pDlg != nullptr)
        m_pDlg->OnCommand(IDC_CANCEL);
    else
        EndDialog(IDCANCEL);
}

bool CPopupWindow::OnSysCommand(WPARAM wParam, LPARAM, INT_PTR& result) {
    // The system keeps the low four bits of a command id for itself.
    const auto nID = static_cast<unsigned>(wParam) & 0xFFF0;
    if (nID != IDM_ABOUTBOX) return false;
    Trace("command " + Number(nID));
    m_pDlg->OnCommand(static_cast<int>(nID));
    result = 0;
    return true;
}

bool CPopupWindow::OnPaint(WPARAM, LPARAM, INT_PTR& result) {
    if (!IsIconic(m_hWnd)) return false;
    PAINTSTRUCT ps;
    HDC hDC = BeginPaint(m_hWnd, &ps);
    SendMessageW(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(hDC), 0);
    RECT client{};
    GetClientRect(m_hWnd, &client);
    const int x = (client.right - client.left - GetSystemMetrics(SM_CXICON) + 1) / 2;
    const int y = (client.bottom - client.top - GetSystemMetrics(SM_CYICON) + 1) / 2;
    DrawIcon(hDC, x, y, m_hIcon);
    EndPaint(m_hWnd, &ps);
    result = 0;
    return true;
}

bool CPopupWindow::OnQueryDragIcon(WPARAM, LPARAM, INT_PTR& result) {
    result = reinterpret_cast<INT_PTR>(m_hIcon);
    return true;
}

bool CPopupWindow::OnLButtonDown(WPARAM, LPARAM lParam, INT_PTR&) {
    m_lButtonDown = lParam;
    m_pDlg->OnLButtonDown();
    m_lButtonDown = 0;
    return false;
}

bool CPopupWindow::OnDestroy(WPARAM, LPARAM, INT_PTR&) {
    m_pDlg->OnDestroy();
    m_browser.Destroy();
    // Page events the window will not see any more.
    MSG pending;
    while (PeekMessageW(&pending, m_hWnd, kPageEventMessage, kPageEventMessage, PM_REMOVE))
        delete reinterpret_cast<PageEvent*>(pending.lParam);
    while (PeekMessageW(&pending, m_hWnd, kIntentMessage, kIntentMessage, PM_REMOVE))
        delete reinterpret_cast<std::function<void()>*>(pending.lParam);
    m_hQuitTarget = nullptr;
    m_hMainWnd = nullptr;
    return false;
}

bool CPopupWindow::OnTimer(WPARAM wParam, LPARAM, INT_PTR&) {
    Trace("timer " + Number(static_cast<long long>(wParam)));
    m_pDlg->OnTimer(static_cast<unsigned>(wParam));
    return false;
}

bool CPopupWindow::OnSelchangeCategory(WPARAM, LPARAM, INT_PTR& result) {
    Trace("chooser " + Number(GetChooserSelection()));
    m_pDlg->OnSelchangeCategory();
    result = 0;
    return true;
}

bool CPopupWindow::OnCommand(WPARAM wParam, LPARAM, INT_PTR& result) {
    const int nId = LOWORD(wParam);
    Trace("command " + Number(nId));
    m_pDlg->OnCommand(nId);
    result = 0;
    return true;
}

bool CPopupWindow::OnTrayNotify(WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    // A double click shows the popup; the right button opens the menu at the
    // cursor.
    result = 0;
    if (wParam != kTrayIconId) return true;
    if (lParam == WM_LBUTTONDBLCLK) {
        m_pDlg->OnTrayActivated();
    } else if (lParam == WM_RBUTTONDOWN) {
        POINT point{};
        ::GetCursorPos(&point);
        m_pDlg->OnTrayMenu(point.x, point.y);
    }
    return true;
}

bool CPopupWindow::OnPageEvent(WPARAM, LPARAM lParam, INT_PTR& result) {
    std::unique_ptr<PageEvent> event(reinterpret_cast<PageEvent*>(lParam));
    result = 0;
    if (event == nullptr) return true;
    if (event->bFailed)
        m_pDlg->OnPageFailed(ReportedUri(event->url), event->reason);
    else
        m_pDlg->OnPageLoaded(ReportedUri(event->url));
    return true;
}

bool CPopupWindow::OnLaterCopy(WPARAM, LPARAM, INT_PTR& result) {
    result = 0;
    std::vector<std::string> messages;
    {
        const std::lock_guard<std::mutex> lock(m_laterMutex);
        messages.swap(m_later);
    }
    // Each may run a dialog; the next waits until it is closed.
    for (const std::string& message : messages) {
        Trace("later copy: " + message);
        if (m_pDlg != nullptr && m_hWnd != nullptr) m_pDlg->OnLaterCopy(message);
    }
    return true;
}

std::string CPopupWindow::ReportedUri(const std::string& url) const {
    return EndsWithNoCase(url, kOwnPageName) ? std::string(kszOwnPageUri) : url;
}

int CPopupWindow::ControlIdOf(HWND hWnd) const {
    if (m_hWnd == nullptr || hWnd == nullptr || hWnd == m_hWnd) return 0;
    for (HWND h = hWnd; h != nullptr && !IsTopLevel(h); h = GetParent(h))
        if (GetParent(h) == m_hWnd) return GetDlgCtrlID(h);
    return 0;
}

bool CPopupWindow::PreTranslateMessage(MSG& msg) {
    if (msg.message == WM_KEYDOWN && m_pDlg != nullptr && m_hWnd != nullptr) {
        const int nTarget = ControlIdOf(msg.hwnd);
        const Key key = KeyOf(msg.wParam);
        if (key != Key::Other && m_pDlg->OnKey(key, nTarget)) {
            Trace("key " + Number(static_cast<long long>(msg.wParam)) + " consumed, target " + Number(nTarget));
            return true;
        }
    }
    // The control container's keyboard handling, then the dialog's.
    if (m_browser.TranslateAccelerator(msg)) return true;
    return CWinDialog::PreTranslateMessage(msg);
}

// --- IUiHost --------------------------------------------------------------

void CPopupWindow::SetTimer(unsigned nIDEvent, unsigned nElapseMs) {
    if (m_hWnd != nullptr) ::SetTimer(m_hWnd, nIDEvent, nElapseMs, nullptr);
}

void CPopupWindow::KillTimer(unsigned nIDEvent) {
    if (m_hWnd != nullptr) ::KillTimer(m_hWnd, nIDEvent);
}

void CPopupWindow::ShowNotice(const char* szText, const char* szCaption) {
    // Owned by no window: only the calling worker thread waits for it.
    Trace(std::string("notice ") + szCaption + ": " + szText);
    MessageBoxW(nullptr, FromGbk(szText).c_str(), FromGbk(szCaption).c_str(), MB_OK | MB_ICONINFORMATION);
    Trace("notice closed");
}

void CPopupWindow::PostQuit() {
    HWND hWnd = m_hQuitTarget.load();
    const BOOL posted = hWnd != nullptr && PostMessageW(hWnd, WM_QUIT, 0, 0);
    Trace("quit posted " + Number(posted));
}

// --- IHotListView ---------------------------------------------------------

void CPopupWindow::AppendSystemMenuItem(unsigned nId, const std::string&) {
    HMENU hSysMenu = GetSystemMenu(m_hWnd, FALSE);
    if (hSysMenu == nullptr) {
        Trace("no system menu");
        return;
    }
    // The item's text is string 101.
    wchar_t text[256] = {};
    if (LoadStringW(ResourceModule(), IDS_ABOUTBOX, text, static_cast<int>(std::size(text))) <= 0 || text[0] == L'\0')
        return;
    AppendMenuW(hSysMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuW(hSysMenu, MF_STRING, nId, text);
    Trace("system menu item " + ToGbk(text));
}

void CPopupWindow::SetToolWindowStyle() { SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, WS_EX_TOOLWINDOW); }

void CPopupWindow::SetIcons(int) {
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
}

void CPopupWindow::SetImage(HWND hStatic, HBITMAP& hOwned, int nBitmap) {
    HBITMAP hNew = nBitmap > 0 ? LoadBitmapA(ResourceModule(), MAKEINTRESOURCEA(nBitmap)) : nullptr;
    if (hStatic != nullptr) SendMessageW(hStatic, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(hNew));
    // The image shown before is released once the static has the new one.
    if (hOwned != nullptr) DeleteObject(hOwned);
    hOwned = hNew;
}

void CPopupWindow::SetHeaderBitmap(int nBitmap) {
    SetImage(m_staticHeader, m_bmpHeader, nBitmap);
    Trace("header " + Number(nBitmap));
}

void CPopupWindow::SetCloseBitmap(int nBitmap) { SetImage(m_staticClose, m_bmpClose, nBitmap); }

void CPopupWindow::SetChooserSelection(int nIndex) {
    if (m_comboList != nullptr) SendMessageW(m_comboList, CB_SETCURSEL, static_cast<WPARAM>(nIndex), 0);
}

int CPopupWindow::GetChooserSelection() {
    return m_comboList != nullptr ? static_cast<int>(SendMessageW(m_comboList, CB_GETCURSEL, 0, 0)) : -1;
}

bool CPopupWindow::GetSearchText(std::string& text) { return GetWindowGbkText(m_editSearch, text); }

void CPopupWindow::Navigate(const std::string& url) {
    if (!m_browser.HasControl()) {
        Trace("navigate " + url + " (no browser)");
        return;
    }
    VARIANT empty;
    VariantInit(&empty);
    const HRESULT hr = m_browser.Navigate(url.c_str(), &empty, &empty, &empty, &empty);
    Trace("navigate " + url + " " + (SUCCEEDED(hr) ? "taken" : "refused " + Number(static_cast<long>(hr))));
}

void CPopupWindow::ShowOwnPage(const std::string& html) {
    // A file in the user's temporary folder, which the browser shows as any
    // cached page: the bytes as they are, GBK as the page declares.
    if (m_ownPageFile.empty()) {
        char folder[MAX_PATH + 1] = {};
        const DWORD n = GetTempPathA(sizeof folder, folder);
        if (n == 0 || n > MAX_PATH) {
            Trace("own page: no temporary folder");
            return;
        }
        m_ownPageFile = std::string(folder) + kOwnPageName;
    }
    HANDLE hFile =
        CreateFileA(m_ownPageFile.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    DWORD written = 0;
    const bool ok = hFile != INVALID_HANDLE_VALUE &&
                    WriteFile(hFile, html.data(), static_cast<DWORD>(html.size()), &written, nullptr) &&
                    written == html.size();
    if (hFile != INVALID_HANDLE_VALUE) CloseHandle(hFile);
    if (!ok) {
        Trace("own page not written to " + m_ownPageFile);
        return;
    }
    Trace("own page written to " + m_ownPageFile);
    // Without an engine the control shows no page, its own error page
    // neither: it is left as it is.
    if (!m_browser.HasEngine()) {
        Trace("own page not shown: no engine");
        return;
    }
    Navigate("file://" + m_ownPageFile);
}

void CPopupWindow::TraceLine(const std::string& line) { Trace(line); }

void CPopupWindow::PostIntent(std::function<void()> intent) {
    auto* posted = new std::function<void()>(std::move(intent));
    HWND hWnd = m_hQuitTarget.load();
    // No window to take it: dropped.
    if (hWnd == nullptr || !PostMessageW(hWnd, kIntentMessage, 0, reinterpret_cast<LPARAM>(posted))) delete posted;
}

bool CPopupWindow::OnIntent(WPARAM, LPARAM lParam, INT_PTR& result) {
    std::unique_ptr<std::function<void()>> intent(reinterpret_cast<std::function<void()>*>(lParam));
    result = 0;
    if (intent != nullptr && *intent) (*intent)();
    return true;
}

void CPopupWindow::OpenInBrowser(const std::string& url) {
    const bool opened = kivo::platform::OpenInBrowser(url);
    Trace("open " + kivo::platform::BrowserUrl(url) + (opened ? "" : " failed"));
}

void CPopupWindow::GetClientSize(int& width, int& height) {
    RECT client{};
    if (m_hWnd != nullptr) GetClientRect(m_hWnd, &client);
    width = client.right - client.left;
    height = client.bottom - client.top;
}

int CPopupWindow::GetFullScreenWidth() { return GetSystemMetrics(SM_CXFULLSCREEN); }

void CPopupWindow::MoveWindow(int x, int y, int width, int height) {
    ::MoveWindow(m_hWnd, x, y, width, height, TRUE);
    Trace("placed " + Number(x) + " " + Number(y) + " " + Number(width) + " " + Number(height));
}

void CPopupWindow::SetWindowShape(const CRegion& shape) {
    // The shape's rectangles, relative to the window, as one system region.
    HRGN hShape = CreateRectRgn(0, 0, 0, 0);
    for (const ShapeRect& rect : shape.Rects()) {
        HRGN hPart = CreateRectRgn(rect.x, rect.y, rect.x + rect.width, rect.y + rect.height);
        CombineRgn(hShape, hShape, hPart, RGN_OR);
        DeleteObject(hPart);
    }
    // The window owns the region from here on.
    SetWindowRgn(m_hWnd, hShape, TRUE);
}

void CPopupWindow::ShowWindow(bool bShow) {
    ::ShowWindow(m_hWnd, bShow ? SW_SHOW : SW_HIDE);
    Trace(bShow ? "window shown" : "window hidden");
}

void CPopupWindow::SetForegroundWindow() {
    ::SetForegroundWindow(m_hWnd);
    Trace("window raised");
}

void CPopupWindow::StartWindowDrag() {
    // The system's move loop, as if the caption were pressed at the point
    // of the press (client coordinates, as received).
    PostMessageW(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION, m_lButtonDown);
}

void CPopupWindow::AddTrayIcon(const TrayIconData& nid) {
    // The structure's first form, without the fields later versions added,
    // in its UTF-16 kind, so that the tip reads the same in every language.
    m_nid = NOTIFYICONDATAW{};
    m_nid.cbSize = NOTIFYICONDATAW_V1_SIZE;
    m_nid.hWnd = m_hWnd;
    m_nid.uID = nid.uID;
    m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_nid.uCallbackMessage = kTrayMessage;
    m_nid.hIcon = m_hIcon;
    // Cut to the tip's 63 characters and its zero.
    const std::wstring tip = FromGbk(nid.szTip != nullptr ? nid.szTip : "");
    lstrcpynW(m_nid.szTip, tip.c_str(), static_cast<int>(std::size(m_nid.szTip)));
    const BOOL added = Shell_NotifyIconW(NIM_ADD, &m_nid);
    Trace("tray icon added " + Number(added) + ": size " + Number(m_nid.cbSize) + ", id " + Number(m_nid.uID) +
          ", flags " + Number(m_nid.uFlags) + ", message " + Number(m_nid.uCallbackMessage) + ", tip " +
          ToGbk(m_nid.szTip));
}

void CPopupWindow::RemoveTrayIcon(const TrayIconData&) {
    const BOOL removed = Shell_NotifyIconW(NIM_DELETE, &m_nid);
    Trace("tray icon removed " + Number(removed));
}

void CPopupWindow::TrackPopupMenu(const MenuItem*, int, int x, int y) {
    // Menu 167 of the resources, its popup at position 0.
    HMENU hMenu = LoadMenuW(ResourceModule(), MAKEINTRESOURCEW(IDR_MENU_TRAY));
    HMENU hPopup = hMenu != nullptr ? GetSubMenu(hMenu, 0) : nullptr;
    Trace("menu at " + Number(x) + " " + Number(y));
    if (hPopup != nullptr) ::TrackPopupMenu(hPopup, 0, x, y, 0, m_hWnd, nullptr);
    Trace("menu closed");
    if (hMenu != nullptr) DestroyMenu(hMenu);
}

}  // namespace kivo::win32
