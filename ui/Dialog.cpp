#include "ui/Dialog.h"

#include "ui/Resource.h"

int CDialogBase::DoModal(IDialogRunner& runner) {
    m_pRunner = &runner;
    const int result = runner.RunModal(*this);
    m_pView = nullptr;
    return result;
}

void CDialogBase::OnOK() {
    if (m_pView != nullptr) m_pView->EndDialog(IDOK);
}

void CDialogBase::OnCancel() {
    if (m_pView != nullptr) m_pView->EndDialog(IDCANCEL);
}

void CDialogBase::OnCommand(int nId, int nCode) {
    if (nCode != BN_CLICKED) return;
    if (nId == IDOK) OnOK();
    else if (nId == IDCANCEL) OnCancel();
}
