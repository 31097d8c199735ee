#include "shells/win32/WinApi.h"

#include "shells/win32/SmallDialog.h"

#include "net/Catalogue.h"
#include "shells/win32/Trace.h"

namespace kivo::win32 {

bool GetWindowGbkText(HWND hWnd, std::string& text) {
    text.clear();
    if (hWnd == nullptr) return true;
    const int length = GetWindowTextLengthW(hWnd);
    if (length <= 0) return true;
    std::wstring wide(static_cast<std::size_t>(length) + 1, L'\0');
    const int got = GetWindowTextW(hWnd, wide.data(), length + 1);
    wide.resize(static_cast<std::size_t>(got > 0 ? got : 0));
    bool lossless = true;
    std::string ansi = ToGbk(wide, &lossless);
    if (!lossless) return false;
    text = std::move(ansi);
    return true;
}

bool CSmallDialog::GetItemText(int nId, std::string& text) { return GetWindowGbkText(GetDlgItem(nId), text); }

void CSmallDialog::SetItemText(int nId, const std::string& text) {
    if (m_hWnd != nullptr) SetDlgItemTextW(m_hWnd, nId, FromGbk(text).c_str());
}

int CSmallDialog::GetCurSel(int nId) {
    HWND hCombo = GetDlgItem(nId);
    return hCombo != nullptr ? static_cast<int>(SendMessageW(hCombo, CB_GETCURSEL, 0, 0)) : -1;
}

void CSmallDialog::SetCurSel(int nId, int nIndex) {
    HWND hCombo = GetDlgItem(nId);
    // CB_SETCURSEL with an index outside the list clears the selection.
    if (hCombo != nullptr) SendMessageW(hCombo, CB_SETCURSEL, static_cast<WPARAM>(nIndex), 0);
}

int CSmallDialog::GetCheck(int nId) {
    return m_hWnd != nullptr && IsDlgButtonChecked(m_hWnd, nId) == BST_CHECKED ? 1 : 0;
}

void CSmallDialog::SetCheck(int nId, int nCheck) {
    if (m_hWnd != nullptr) CheckDlgButton(m_hWnd, nId, nCheck != 0 ? BST_CHECKED : BST_UNCHECKED);
}

void CSmallDialog::ShowMessage(const std::string& text, const std::string& caption) {
    Trace("message " + caption + ": " + text);
    MessageBoxW(m_hWnd, FromGbk(text).c_str(), FromGbk(caption).c_str(), MB_OK | MB_ICONEXCLAMATION);
    Trace("message closed");
}

BOOL CSmallDialog::OnInitDialog() {
    m_dlg.Attach(this);
    return m_dlg.OnInitDialog() ? TRUE : FALSE;
}

bool CSmallDialog::OnMessage(UINT message, WPARAM wParam, LPARAM, INT_PTR& result) {
    if (message != WM_COMMAND) return false;
    // A click on a button, the dialog manager's OK and Cancel among them
    // (Enter, Esc, the close box), and a control taking the focus.
    const int nId = LOWORD(wParam);
    switch (HIWORD(wParam)) {
        case BN_CLICKED:
            m_dlg.OnClicked(nId);
            break;
        case EN_SETFOCUS:
            m_dlg.OnFocused(nId);
            break;
        default:
            return false;
    }
    result = 0;
    return true;
}

int CSmallDialogRunner::RunModal(CDialogBase& dlg) {
    // A dialog stands over the window the user last worked in: the popup,
    // or the dialog it was opened from.
    HWND hOwner = m_hMainWnd != nullptr ? GetLastActivePopup(m_hMainWnd) : nullptr;
    CSmallDialog view(dlg);
    const int result = view.DoModal(hOwner);
    dlg.Attach(nullptr);
    return result;
}

}  // namespace kivo::win32
