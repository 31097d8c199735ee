#include "shells/win32/WinApi.h"

#include "shells/win32/PopupWindow.h"

#include "platform/BrowserUrl.h"
#include "shells/win32/Trace.h"

namespace kivo::win32 {

namespace {

constexpr UINT U(int value) { return static_cast<UINT>(value); }

bool IsTopLevel(HWND hWnd) { return (GetWindowLongPtrA(hWnd, GWL_STYLE) & WS_CHILD) == 0; }

std::string Number(long long value) { return std::to_string(value); }

}  // namespace

// The popup's message map, in entry order: the first entry that matches a
// message handles it. Image buttons (SS_NOTIFY statics) report a click as
// STN_CLICKED, 0, like a menu command.
const CPopupWindow::MessageMapEntry CPopupWindow::kMessageMap[] = {
    {WM_SYSCOMMAND, 0, 0, &CPopupWindow::OnSysCommand},
    {WM_PAINT, 0, 0, &CPopupWindow::OnPaint},
    {WM_QUERYDRAGICON, 0, 0, &CPopupWindow::OnQueryDragIcon},
    {WM_LBUTTONDOWN, 0, 0, &CPopupWindow::OnLButtonDown},
    {WM_DESTROY, 0, 0, &CPopupWindow::OnDestroy},
    {WM_COMMAND, CBN_SELCHANGE, U(IDC_CATEGORY), &CPopupWindow::OnSelchangeCategory},
    {WM_COMMAND, STN_CLICKED, U(IDC_VISIT), &CPopupWindow::OnVisitSite},
    {WM_COMMAND, STN_CLICKED, U(IDC_CLOSE), &CPopupWindow::OnHide},
    {WM_COMMAND, 0, ID_SETTINGS, &CPopupWindow::OnSettings},
    {WM_COMMAND, 0, ID_VISIT_SITE, &CPopupWindow::OnVisitSite},
    {WM_COMMAND, 0, ID_EXIT, &CPopupWindow::OnExit},
    {WM_TIMER, 0, 0, &CPopupWindow::OnTimer},
    {WM_COMMAND, STN_CLICKED, U(IDC_SEARCH), &CPopupWindow::OnSearch},
    {WM_TRAYNOTIFY, 0, 0, &CPopupWindow::OnTrayNotify},
    {WM_COMMAND, 0, ID_ABOUT, &CPopupWindow::OnAbout},
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
        SetWindowLongPtrA(hChild, GWL_STYLE, GetWindowLongPtrA(hChild, GWL_STYLE) | WS_CLIPSIBLINGS);
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
    return bGoOn ? TRUE : FALSE;
}

bool CPopupWindow::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    if (m_pDlg == nullptr) return false;
    for (const MessageMapEntry& entry : kMessageMap) {
        if (entry.message != message) continue;
        if (message == WM_COMMAND && (HIWORD(wParam) != entry.nCode || LOWORD(wParam) != entry.nId)) continue;
        return (this->*entry.handler)(wParam, lParam, result);
    }
    return false;
}

void CPopupWindow::OnOK() {
    if (m_pDlg != nullptr) m_pDlg->OnExit();
    else EndDialog(IDOK);
}

void CPopupWindow::OnCancel() {
    // The dialog manager's answer to a close request.
    if (m_pDlg != nullptr) m_pDlg->OnCancel();
    else EndDialog(IDCANCEL);
}

bool CPopupWindow::OnSysCommand(WPARAM wParam, LPARAM, INT_PTR& result) {
    const auto nID = static_cast<unsigned>(wParam);
    if ((nID & 0xFFF0) != IDM_ABOUTBOX) return false;
    m_pDlg->OnSysCommand(nID);
    result = 0;
    return true;
}

bool CPopupWindow::OnPaint(WPARAM, LPARAM, INT_PTR& result) {
    if (!IsIconic(m_hWnd)) return false;
    PAINTSTRUCT ps;
    HDC hDC = BeginPaint(m_hWnd, &ps);
    SendMessageA(m_hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(hDC), 0);
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
    m_hQuitTarget = nullptr;
    m_hMainWnd = nullptr;
    return false;
}

bool CPopupWindow::OnSelchangeCategory(WPARAM, LPARAM, INT_PTR& result) {
    Trace("chooser " + Number(GetChooserSelection()));
    m_pDlg->OnSelchangeCategory();
    result = 0;
    return true;
}

bool CPopupWindow::OnVisitSite(WPARAM, LPARAM, INT_PTR& result) {
    m_pDlg->OnVisitSite();
    result = 0;
    return true;
}

bool CPopupWindow::OnHide(WPARAM, LPARAM, INT_PTR& result) {
    m_pDlg->OnHide();
    result = 0;
    return true;
}

bool CPopupWindow::OnSettings(WPARAM, LPARAM, INT_PTR& result) {
    Trace("command settings");
    m_pDlg->OnSettings();
    result = 0;
    return true;
}

bool CPopupWindow::OnExit(WPARAM, LPARAM, INT_PTR& result) {
    Trace("command exit");
    m_pDlg->OnExit();
    result = 0;
    return true;
}

bool CPopupWindow::OnTimer(WPARAM wParam, LPARAM, INT_PTR&) {
    Trace("timer " + Number(static_cast<long long>(wParam)));
    m_pDlg->OnTimer(static_cast<unsigned>(wParam));
    return false;
}

bool CPopupWindow::OnSearch(WPARAM, LPARAM, INT_PTR& result) {
    m_pDlg->OnSearch();
    result = 0;
    return true;
}

bool CPopupWindow::OnTrayNotify(WPARAM wParam, LPARAM lParam, INT_PTR& result) {
    result = m_pDlg->OnTrayNotify(static_cast<unsigned>(wParam), static_cast<long>(lParam));
    return true;
}

bool CPopupWindow::OnAbout(WPARAM, LPARAM, INT_PTR& result) {
    Trace("command about");
    m_pDlg->OnAbout();
    result = 0;
    return true;
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
        if (m_pDlg->PreTranslateKeyDown(static_cast<unsigned>(msg.wParam), nTarget)) {
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
    MessageBoxA(nullptr, szText, szCaption, MB_OK | MB_ICONINFORMATION);
    Trace("notice closed");
}

void CPopupWindow::PostQuit() {
    HWND hWnd = m_hQuitTarget.load();
    const BOOL posted = hWnd != nullptr && PostMessageA(hWnd, WM_QUIT, 0, 0);
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
    char text[256] = {};
    if (LoadStringA(ResourceModule(), IDS_ABOUTBOX, text, sizeof text) <= 0 || text[0] == '\0') return;
    AppendMenuA(hSysMenu, MF_SEPARATOR, 0, nullptr);
    AppendMenuA(hSysMenu, MF_STRING, nId, text);
    Trace(std::string("system menu item ") + text);
}

void CPopupWindow::SetToolWindowStyle() { SetWindowLongPtrA(m_hWnd, GWL_EXSTYLE, WS_EX_TOOLWINDOW); }

void CPopupWindow::SetIcons(int) {
    SendMessageA(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessageA(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
}

void CPopupWindow::SetImage(HWND hStatic, HBITMAP& hOwned, int nBitmap) {
    HBITMAP hNew = nBitmap > 0 ? LoadBitmapA(ResourceModule(), MAKEINTRESOURCEA(nBitmap)) : nullptr;
    if (hStatic != nullptr) SendMessageA(hStatic, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(hNew));
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
    if (m_comboList != nullptr) SendMessageA(m_comboList, CB_SETCURSEL, static_cast<WPARAM>(nIndex), 0);
}

int CPopupWindow::GetChooserSelection() {
    return m_comboList != nullptr ? static_cast<int>(SendMessageA(m_comboList, CB_GETCURSEL, 0, 0)) : -1;
}

bool CPopupWindow::GetSearchText(std::string& text) { return GetWindowAnsiText(m_editSearch, text); }

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
    PostMessageA(m_hWnd, WM_NCLBUTTONDOWN, HTCAPTION, m_lButtonDown);
}

void CPopupWindow::AddTrayIcon(const TrayIconData& nid) {
    // The structure's first form, without the fields later versions added:
    // 88 bytes in a 32-bit program, 104 in a 64-bit one.
    static_assert(sizeof(void*) != 4 || NOTIFYICONDATAA_V1_SIZE == 88, "the first form is 88 bytes");
    m_nid = NOTIFYICONDATAA{};
    m_nid.cbSize = NOTIFYICONDATAA_V1_SIZE;
    m_nid.hWnd = m_hWnd;
    m_nid.uID = nid.uID;
    m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_nid.uCallbackMessage = nid.uCallbackMessage;
    m_nid.hIcon = m_hIcon;
    lstrcpynA(m_nid.szTip, nid.szTip, 64);
    const BOOL added = Shell_NotifyIconA(NIM_ADD, &m_nid);
    Trace("tray icon added " + Number(added) + ": size " + Number(m_nid.cbSize) + ", id " + Number(m_nid.uID) +
          ", flags " + Number(m_nid.uFlags) + ", message " + Number(m_nid.uCallbackMessage) + ", tip " + m_nid.szTip);
}

void CPopupWindow::RemoveTrayIcon(const TrayIconData&) {
    const BOOL removed = Shell_NotifyIconA(NIM_DELETE, &m_nid);
    Trace("tray icon removed " + Number(removed));
}

void CPopupWindow::GetCursorPos(int& x, int& y) {
    POINT point{};
    ::GetCursorPos(&point);
    x = point.x;
    y = point.y;
}

void CPopupWindow::TrackPopupMenu(const MenuItem*, int, int x, int y) {
    // Menu 167 of the resources, its popup at position 0.
    HMENU hMenu = LoadMenuA(ResourceModule(), MAKEINTRESOURCEA(IDR_MENU_TRAY));
    HMENU hPopup = hMenu != nullptr ? GetSubMenu(hMenu, 0) : nullptr;
    Trace("menu at " + Number(x) + " " + Number(y));
    if (hPopup != nullptr) ::TrackPopupMenu(hPopup, 0, x, y, 0, m_hWnd, nullptr);
    Trace("menu closed");
    if (hMenu != nullptr) DestroyMenu(hMenu);
}

}  // namespace kivo::win32
