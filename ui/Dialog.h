#pragma once
// Modal dialogs as logic over a small view: the toolkit builds the window
// from the dialog's template, attaches a view of it and tells the dialog what
// the user did as intents: a button clicked, a control focused, OK, Cancel.
#include <string>

class CDialogBase;

// A dialog's window as the logic sees it. Texts are GBK.
class IDialogView {
public:
    virtual ~IDialogView() = default;
    // False when the control's text cannot be had in GBK (a character GBK
    // cannot hold); `text` is then empty.
    virtual bool GetItemText(int nId, std::string& text) = 0;
    virtual void SetItemText(int nId, const std::string& text) = 0;
    // Drop-down lists: the selected index, -1 when none; an index outside
    // the list clears the selection.
    virtual int GetCurSel(int nId) = 0;
    virtual void SetCurSel(int nId, int nIndex) = 0;
    // Check boxes: 1 ticked, 0 clear.
    virtual int GetCheck(int nId) = 0;
    virtual void SetCheck(int nId, int nCheck) = 0;
    // A modal warning (exclamation icon, OK button) over this dialog.
    virtual void ShowMessage(const std::string& text, const std::string& caption) = 0;
    // Ends the modal run with `nResult`.
    virtual void EndDialog(int nResult) = 0;
};

// Runs a dialog modally: builds its window, attaches the view, calls
// OnInitDialog and routes events until EndDialog. Returns the result, or -1
// when the window could not be made.
class IDialogRunner {
public:
    virtual ~IDialogRunner() = default;
    virtual int RunModal(CDialogBase& dlg) = 0;
};

class CDialogBase {
public:
    explicit CDialogBase(int nTemplateId) : m_nTemplateId(nTemplateId) {}
    virtual ~CDialogBase() = default;
    CDialogBase(const CDialogBase&) = delete;
    CDialogBase& operator=(const CDialogBase&) = delete;

    int TemplateId() const { return m_nTemplateId; }
    int DoModal(IDialogRunner& runner);

    // Called by the runner.
    void Attach(IDialogView* pView) { m_pView = pView; }
    virtual bool OnInitDialog() { return true; }
    // Enter or the OK button; Escape, the close box or the Cancel button.
    virtual void OnOK();
    virtual void OnCancel();
    // A push button was clicked: OK and Cancel lead to the two above.
    virtual void OnClicked(int nId);
    // A control took the keyboard focus.
    virtual void OnFocused(int /*nId*/) {}

protected:
    IDialogView* m_pView = nullptr;
    IDialogRunner* m_pRunner = nullptr;

private:
    const int m_nTemplateId;
};
