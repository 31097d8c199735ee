#pragma once
// The settings, system settings and About dialogs on Win32: the dialog's
// template run modally, its controls reached by id, its notifications handed
// to the dialog's logic.
#include "shells/win32/WinApi.h"

#include "shells/win32/WinDialog.h"

namespace kivo::win32 {

class CSmallDialog final : public CWinDialog, public IDialogView {
public:
    explicit CSmallDialog(CDialogBase& dlg) : CWinDialog(dlg.TemplateId()), m_dlg(dlg) {}

    // IDialogView
    bool GetItemText(int nId, std::string& text) override;
    void SetItemText(int nId, const std::string& text) override;
    int GetCurSel(int nId) override;
    void SetCurSel(int nId, int nIndex) override;
    int GetCheck(int nId) override;
    void SetCheck(int nId, int nCheck) override;
    void ShowMessage(const std::string& text, const std::string& caption) override;
    void EndDialog(int nResult) override { CWinDialog::EndDialog(nResult); }

protected:
    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, INT_PTR& result) override;
    // The dialog manager's OK and Cancel reach the logic through OnMessage.
    void OnOK() override { m_dlg.OnOK(); }
    void OnCancel() override { m_dlg.OnCancel(); }

private:
    CDialogBase& m_dlg;
};

// Runs the three dialogs modally, each over the last active window of the
// popup (the popup itself, or the dialog a dialog was opened from).
class CSmallDialogRunner final : public IDialogRunner {
public:
    explicit CSmallDialogRunner(HWND& hMainWnd) : m_hMainWnd(hMainWnd) {}
    int RunModal(CDialogBase& dlg) override;

private:
    HWND& m_hMainWnd;
};

// The whole text of a window; false when a character has no form in the
// system code page (`text` is then empty).
bool GetWindowGbkText(HWND hWnd, std::string& text);

}  // namespace kivo::win32
