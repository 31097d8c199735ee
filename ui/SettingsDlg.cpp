#include "ui/SettingsDlg.h"

#include <cstring>

#include "app/Config.h"
#include "net/Transfers.h"
#include "net/Catalogue.h"
#include "net/ServerAddress.h"
#include "platform/System.h"
#include "ui/Resource.h"
#include "ui/Texts.h"

namespace {

constexpr std::size_t kUrlLimit = 499;  // longest URL a transfer takes

bool IsLeadByte(unsigned char c) { return c >= 0x81 && c <= 0xFE; }

}  // namespace

bool MbcsContains(const std::string& text, char ch) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (IsLeadByte(c) && i + 1 < text.size()) {
            ++i;  // the trail byte belongs to this character
            continue;
        }
        if (text[i] == ch) return true;
    }
    return false;
}

std::string AppName() {
    std::string path = kivo::platform::ExecutablePath();
    const std::size_t slash = path.rfind(kivo::platform::PathSeparator());
    if (slash != std::string::npos) path.erase(0, slash + 1);
    const std::size_t dot = path.rfind('.');
    if (dot != std::string::npos && dot > 0) path.resize(dot);
    return path;
}

CSettingsDlg::CSettingsDlg(CConfig& config, kivo::net::Transfers& transfers)
    : CDialogBase(IDD_SETTINGS), m_config(config), m_transfers(transfers) {}

bool CSettingsDlg::IsAcceptableEmail(const std::string& text) {
    if (text.empty()) return true;
    if (!MbcsContains(text, '@')) return false;
    // Refused rather than cut: the field holds 249 bytes and a zero, and the
    // subscription request must fit a URL.
    if (text.size() >= CConfig::kTextSize || text.find('\0') != std::string::npos) return false;
    const std::string url = kivo::net::ServerAddress() + "/postmail.php?email=" + text;
    return url.size() <= kUrlLimit;
}

bool CSettingsDlg::OnInitDialog() {
    int nCategory = 0;
    std::string email;
    {
        auto lock = m_config.Lock();
        nCategory = m_config.m_nCategory;
        email.assign(m_config.m_szEmail, strnlen(m_config.m_szEmail, sizeof m_config.m_szEmail));
    }
    m_pView->SetCurSel(IDC_SET_CATEGORY, CategoryIndex(nCategory));
    m_pView->SetItemText(IDC_EMAIL, email.empty() ? std::string(kszEmailPlaceholder) : email);
    return true;
}

void CSettingsDlg::OnClicked(int nId) {
    if (nId == IDC_ADVANCED)
        OnAdvanced();
    else
        CDialogBase::OnClicked(nId);
}

void CSettingsDlg::OnFocused(int nId) {
    if (nId == IDC_EMAIL) OnSetfocusEmail();
}

void CSettingsDlg::OnSetfocusEmail() {
    std::string text;
    if (m_pView->GetItemText(IDC_EMAIL, text) && text == kszEmailPlaceholder) m_pView->SetItemText(IDC_EMAIL, "");
}

void CSettingsDlg::OnAdvanced() {
    CSystemSettingsDlg dlg(m_config);
    if (m_pRunner != nullptr) dlg.DoModal(*m_pRunner);
}

void CSettingsDlg::OnOK() {
    std::string text;
    const bool bGbk = m_pView->GetItemText(IDC_EMAIL, text);
    if (!bGbk || !IsAcceptableEmail(text)) {
        // Nothing is stored: neither the address nor the list choice.
        m_pView->ShowMessage(kszInvalidEmail, AppName());
        return;
    }
    const int nIndex = m_pView->GetCurSel(IDC_SET_CATEGORY);
    int nOldCategory = 0;
    char szOldEmail[CConfig::kTextSize];
    {
        auto lock = m_config.Lock();
        nOldCategory = m_config.m_nCategory;
        std::memcpy(szOldEmail, m_config.m_szEmail, sizeof szOldEmail);
        m_config.m_nCategory = nIndex + 1;  // none selected: 0
        std::memset(m_config.m_szEmail, 0, sizeof m_config.m_szEmail);
        std::memcpy(m_config.m_szEmail, text.data(), text.size());
    }
    CConfig::SaveFailure why = CConfig::SaveFailure::kNone;
    if (m_config.SaveConfig(&why) == 0) {
        // The record goes back to what the file holds; the dialog keeps the
        // user's values for another try or Cancel.
        {
            auto lock = m_config.Lock();
            m_config.m_nCategory = nOldCategory;
            std::memcpy(m_config.m_szEmail, szOldEmail, sizeof szOldEmail);
        }
        const char* szProblem = why == CConfig::SaveFailure::kNotAllowed ? kszSaveNotAllowed
                                : why == CConfig::SaveFailure::kDiskFull ? kszSaveDiskFull
                                                                         : kszSaveFailed;
        m_pView->ShowMessage(szProblem, AppName());
        return;
    }
    // The subscription's answer is never looked at, nor whether it was sent.
    if (!text.empty()) (void)m_transfers.PostMail(text);
    m_pView->EndDialog(IDC_OK);
}

CSystemSettingsDlg::CSystemSettingsDlg(CConfig& config) : CDialogBase(IDD_SYSSETTINGS), m_config(config) {}

bool CSystemSettingsDlg::OnInitDialog() {
    int bAutoRun = 0, bCheckUpdate = 0;
    {
        auto lock = m_config.Lock();
        bAutoRun = m_config.m_bAutoRun;
        bCheckUpdate = m_config.m_bCheckUpdate;
    }
    m_pView->SetCheck(IDC_AUTORUN, bAutoRun);
    m_pView->SetCheck(IDC_CHECKUPDATE, bCheckUpdate);
    return true;
}

void CSystemSettingsDlg::OnOK() {
    const int bAutoRun = m_pView->GetCheck(IDC_AUTORUN) != 0 ? 1 : 0;
    const int bCheckUpdate = m_pView->GetCheck(IDC_CHECKUPDATE) != 0 ? 1 : 0;
    {
        auto lock = m_config.Lock();
        m_config.m_bAutoRun = bAutoRun;
        m_config.m_bCheckUpdate = bCheckUpdate;
    }
    // Memory and the start-at-login entry only; the settings file waits for
    // the next save.
    m_config.SetAutoRun(bAutoRun);
    m_pView->EndDialog(IDC_OK);
}

CAboutDlg::CAboutDlg() : CDialogBase(IDD_ABOUTBOX) {}
