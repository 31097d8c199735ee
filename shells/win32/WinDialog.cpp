#include "shells/win32/WinApi.h"

#include "shells/win32/WinDialog.h"

#include <algorithm>
#include <map>

#include "shells/win32/Trace.h"

namespace kivo::win32 {

namespace {

// Everything here runs on the user-interface thread.
std::map<HWND, IMessageFilter*> g_filters;
std::vector<CWinDialog*> g_runs;  // modal runs, innermost last
CWinDialog* g_pMainWindow = nullptr;
bool g_bQuitting = false;

bool IsInputMessage(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) || (message >= WM_MOUSEFIRST && message <= WM_MOUSELAST);
}

// Messages whose answer the dialog procedure returns itself instead of
// through DWLP_MSGRESULT.
bool ReturnsDirectly(UINT message) {
    switch (message) {
        case WM_INITDIALOG:
        case WM_CTLCOLORMSGBOX:
        case WM_CTLCOLOREDIT:
        case WM_CTLCOLORLISTBOX:
        case WM_CTLCOLORBTN:
        case WM_CTLCOLORDLG:
        case WM_CTLCOLORSCROLLBAR:
        case WM_CTLCOLORSTATIC:
        case WM_COMPAREITEM:
        case WM_VKEYTOITEM:
        case WM_CHARTOITEM:
        case WM_QUERYDRAGICON:
            return true;
        default:
            return false;
    }
}

bool IsTopLevel(HWND hWnd) { return (GetWindowLongPtrW(hWnd, GWL_STYLE) & WS_CHILD) == 0; }

}  // namespace

void RegisterMessageFilter(HWND hWnd, IMessageFilter* pFilter) {
    if (hWnd != nullptr && pFilter != nullptr) g_filters[hWnd] = pFilter;
}

void UnregisterMessageFilter(HWND hWnd) { g_filters.erase(hWnd); }

bool WalkPreTranslateTree(MSG& msg) {
    HWND hTop = nullptr;
    for (HWND hWnd = msg.hwnd; hWnd != nullptr; hWnd = GetParent(hWnd)) {
        const auto it = g_filters.find(hWnd);
        if (it != g_filters.end() && it->second->PreTranslateMessage(msg)) return true;
        if (IsTopLevel(hWnd)) {
            hTop = hWnd;
            break;
        }
    }
    // A message for another top-level window (a dialog over the popup) still
    // meets the main window's filter, after that window's own.
    if (g_pMainWindow != nullptr && msg.hwnd != nullptr && hTop != g_pMainWindow->GetSafeHwnd() &&
        g_pMainWindow->GetSafeHwnd() != nullptr)
        return g_pMainWindow->PreTranslateMessage(msg);
    return false;
}

std::optional<LoadedTemplate> LoadDialogTemplate(int nTemplateId) {
    HINSTANCE hInst = ResourceModule();
    HRSRC hRes = FindResourceA(hInst, MAKEINTRESOURCEA(nTemplateId), MAKEINTRESOURCEA(5));  // RT_DIALOG
    if (hRes == nullptr) return std::nullopt;
    HGLOBAL hData = LoadResource(hInst, hRes);
    const void* pData = hData != nullptr ? LockResource(hData) : nullptr;
    if (pData == nullptr) return std::nullopt;
    auto dlg = DialogTemplateEx::Parse(pData, SizeofResource(hInst, hRes));
    if (!dlg) return std::nullopt;

    LoadedTemplate loaded;
    std::vector<TemplateItem> kept;
    for (TemplateItem& item : dlg->items) {
        if (item.IsOleControl())
            loaded.oleItems.push_back({std::move(item), kept.size()});
        else
            kept.push_back(std::move(item));
    }
    dlg->items = std::move(kept);
    loaded.dlg = std::move(*dlg);

    HRSRC hInit = FindResourceA(hInst, MAKEINTRESOURCEA(nTemplateId), MAKEINTRESOURCEA(kResourceTypeDlgInit));
    if (hInit != nullptr) {
        HGLOBAL hInitData = LoadResource(hInst, hInit);
        const void* pInit = hInitData != nullptr ? LockResource(hInitData) : nullptr;
        if (pInit != nullptr) {
            if (auto entries = ParseDialogInit(pInit, SizeofResource(hInst, hInit))) loaded.init = std::move(*entries);
        }
    }
    return loaded;
}

CWinDialog::~CWinDialog() {
    if (g_pMainWindow == this) g_pMainWindow = nullptr;
    if (m_hWnd != nullptr) {
        UnregisterMessageFilter(m_hWnd);
        SetWindowLongPtrW(m_hWnd, DWLP_USER, 0);
        DestroyWindow(m_hWnd);
    }
}

void CWinDialog::SetMainWindow(CWinDialog* pDlg) { g_pMainWindow = pDlg; }

bool CWinDialog::Quitting() { return g_bQuitting; }

int CWinDialog::DoModal(HWND hOwner) {
    if (g_bQuitting) return -1;
    m_template = LoadDialogTemplate(m_nTemplateId);
    if (!m_template) {
        Trace("dialog " + std::to_string(m_nTemplateId) + " has no template");
        return -1;
    }
    const std::vector<std::uint32_t> words = m_template->dlg.Serialize();

    bool bEnableOwner = false;
    if (hOwner != nullptr && IsWindowEnabled(hOwner)) {
        EnableWindow(hOwner, FALSE);
        bEnableOwner = true;
    }
    m_bContinueModal = true;
    m_nResult = -1;
    g_runs.push_back(this);
    HWND hWnd = CreateDialogIndirectParamW(ResourceModule(), reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), hOwner,
                                           &CWinDialog::DialogProc, reinterpret_cast<LPARAM>(this));
    int result = -1;
    if (hWnd == nullptr) {
        Trace("dialog " + std::to_string(m_nTemplateId) + " not created, error " + std::to_string(GetLastError()));
    } else {
        // A template without WS_VISIBLE is shown once its initialisation is done.
        if (m_bContinueModal && m_hWnd != nullptr && !IsWindowVisible(m_hWnd)) {
            ShowWindow(m_hWnd, SW_SHOWNORMAL);
            UpdateWindow(m_hWnd);
        }
        Trace("dialog " + std::to_string(m_nTemplateId) + " shown");
        result = RunModalLoop();
        Trace("dialog " + std::to_string(m_nTemplateId) + " ended " + std::to_string(result));
    }
    g_runs.erase(std::remove(g_runs.begin(), g_runs.end(), this), g_runs.end());

    // The owner is enabled again before the dialog goes, so that activation
    // returns to it.
    if (bEnableOwner) EnableWindow(hOwner, TRUE);
    if (m_hWnd != nullptr) {
        if (hOwner != nullptr && GetActiveWindow() == m_hWnd) SetActiveWindow(hOwner);
        DestroyWindow(m_hWnd);
    }
    m_template.reset();
    return result;
}

void CWinDialog::EndDialog(int nResult) {
    const auto it = std::find(g_runs.begin(), g_runs.end(), this);
    // The runs inside this one cannot outlive it.
    if (it != g_runs.end()) {
        for (auto inner = it + 1; inner != g_runs.end(); ++inner) {
            (*inner)->m_nResult = IDCANCEL;
            (*inner)->m_bContinueModal = false;
        }
    }
    m_nResult = nResult;
    m_bContinueModal = false;
    // Wakes the loop should it be waiting.
    if (m_hWnd != nullptr) PostMessageW(m_hWnd, WM_NULL, 0, 0);
}

int CWinDialog::RunModalLoop() {
    while (m_bContinueModal && m_hWnd != nullptr) {
        MSG msg;
        const BOOL got = GetMessageW(&msg, nullptr, 0, 0);
        if (got == 0) {
            // A quit message (posted to the window, or by PostQuitMessage)
            // ends every modal run: the runs outside this one get it again.
            Trace("quit message");
            g_bQuitting = true;
            if (!g_runs.empty() && g_runs.front() != this) PostQuitMessage(static_cast<int>(msg.wParam));
            return -1;
        }
        if (got == -1) return -1;
        if (!WalkPreTranslateTree(msg)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
    }
    return m_nResult;
}

bool CWinDialog::PreTranslateMessage(MSG& msg) {
    if (m_hWnd == nullptr || !IsInputMessage(msg.message)) return false;
    if (msg.hwnd != m_hWnd && !IsChild(m_hWnd, msg.hwnd)) return false;
    return IsDialogMessageW(m_hWnd, &msg) != FALSE;
}

INT_PTR CALLBACK CWinDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_INITDIALOG) {
        auto* pDlg = reinterpret_cast<CWinDialog*>(lParam);
        SetWindowLongPtrW(hWnd, DWLP_USER, lParam);
        return pDlg->HandleInitDialog(hWnd);
    }
    auto* pDlg = reinterpret_cast<CWinDialog*>(GetWindowLongPtrW(hWnd, DWLP_USER));
    if (pDlg == nullptr) return FALSE;
    if (message == WM_NCDESTROY) {
        UnregisterMessageFilter(hWnd);
        pDlg->m_hWnd = nullptr;
        pDlg->m_bContinueModal = false;
        return FALSE;
    }
    INT_PTR result = 0;
    bool handled = pDlg->OnMessage(message, wParam, lParam, result);
    if (!handled && message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        // The framework's own entries, after the dialog's map.
        if (LOWORD(wParam) == IDOK) {
            pDlg->OnOK();
            handled = true;
        } else if (LOWORD(wParam) == IDCANCEL) {
            pDlg->OnCancel();
            handled = true;
        }
    }
    if (!handled) return FALSE;
    if (ReturnsDirectly(message)) return result;
    SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, result);
    return TRUE;
}

INT_PTR CWinDialog::HandleInitDialog(HWND hWnd) {
    m_hWnd = hWnd;
    RegisterMessageFilter(hWnd, this);
    CreateOleItems();
    ExecuteDlgInit();
    RECT before{};
    GetWindowRect(hWnd, &before);
    const BOOL result = OnInitDialog();
    // Shown centred, unless the initialisation placed the window itself.
    RECT after{};
    if (m_hWnd != nullptr && GetWindowRect(hWnd, &after) && after.left == before.left && after.top == before.top)
        CenterWindow();
    return result;
}

void CWinDialog::CreateOleItems() {
    if (!m_template || m_template->oleItems.empty()) return;
    // The dialog manager made the ordinary items in template order, the
    // first at the top of the z-order.
    std::vector<HWND> children;
    for (HWND hChild = ::GetWindow(m_hWnd, GW_CHILD); hChild != nullptr; hChild = ::GetWindow(hChild, GW_HWNDNEXT))
        children.push_back(hChild);
    std::size_t nCreated = 0;
    for (const LoadedTemplate::OleItem& ole : m_template->oleItems) {
        RECT rect{ole.item.x, ole.item.y, ole.item.x + ole.item.cx, ole.item.y + ole.item.cy};
        MapDialogRect(m_hWnd, &rect);
        const std::size_t before = ole.nItemsBefore + nCreated;
        HWND hInsertAfter = HWND_TOP;
        if (before > 0 && before - 1 < children.size()) hInsertAfter = children[before - 1];
        CreateOleControl(ole.item, rect, hInsertAfter);
        // The new window takes its place in the list for the next item.
        HWND hNew = ::GetDlgItem(m_hWnd, ole.item.id);
        if (hNew != nullptr) {
            children.insert(children.begin() + static_cast<std::ptrdiff_t>(std::min(before, children.size())), hNew);
            ++nCreated;
        }
    }
}

void CWinDialog::ExecuteDlgInit() {
    if (!m_template) return;
    for (const DialogInitEntry& entry : m_template->init) {
        UINT message = 0;
        if (entry.nMessage == kDlgInitComboAddString)
            message = CB_ADDSTRING;
        else if (entry.nMessage == 0x0401)
            message = LB_ADDSTRING;
        if (message == 0) continue;
        // The data is a zero-terminated GBK text.
        const std::wstring text = FromGbk(std::string(entry.data.c_str()));
        SendDlgItemMessageW(m_hWnd, entry.nId, message, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
}

void CWinDialog::CenterWindow() {
    RECT window{};
    GetWindowRect(m_hWnd, &window);
    RECT area{};
    HWND hOwner = ::GetWindow(m_hWnd, GW_OWNER);
    if (hOwner != nullptr && IsWindowVisible(hOwner) && !IsIconic(hOwner)) {
        GetWindowRect(hOwner, &area);
    } else {
        MONITORINFO info{};
        info.cbSize = sizeof info;
        HMONITOR hMonitor = MonitorFromWindow(hOwner != nullptr ? hOwner : m_hWnd, MONITOR_DEFAULTTOPRIMARY);
        if (!GetMonitorInfoA(hMonitor, &info)) return;
        area = info.rcWork;
    }
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    int x = (area.left + area.right - width) / 2;
    int y = (area.top + area.bottom - height) / 2;
    // Kept on the screen's work area.
    MONITORINFO info{};
    info.cbSize = sizeof info;
    if (GetMonitorInfoA(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &info)) {
        x = std::max(static_cast<int>(info.rcWork.left), std::min(x, static_cast<int>(info.rcWork.right) - width));
        y = std::max(static_cast<int>(info.rcWork.top), std::min(y, static_cast<int>(info.rcWork.bottom) - height));
    }
    SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

}  // namespace kivo::win32
