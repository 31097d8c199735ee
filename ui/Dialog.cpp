#include "ui/Dialog.h"

#include "ui/Resource.h"

int CDialogBase::DoModal(IDialogRunner& runner) {
    m_pRunner = &runner;
    const int result = runner.RunModal(*this);
    m_pView = nullptr;
    return result;
}

void CDialogBase::OnOK() {
    if (m_pView != nullptr) m_pView->EndDialog(IDC_OK);
}

void CDialogBase::OnCancel() {
    if (m_pView != nullptr) m_pView->EndDialog(IDC_CANCEL);
}

void CDialogBase::OnClicked(int nId) {
    if (nId == IDC_OK)
        OnOK();
    else if (nId == IDC_CANCEL)
        OnCancel();
}
