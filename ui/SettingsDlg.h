#pragma once
// The settings dialog (template 131), the system settings dialog (132) and
// the About dialog (100).
#include <string>

#include "ui/Dialog.h"

class CConfig;
namespace kivo::net {
class Transfers;
}

// True when the GBK text holds the character `ch` (ASCII); the second byte
// of a double-byte character never counts.
bool MbcsContains(const std::string& text, char ch);

// The application's name: the executable's file name without extension,
// the caption of the program's own message boxes.
std::string AppName();

class CSettingsDlg : public CDialogBase {
public:
    CSettingsDlg(CConfig& config, kivo::net::Transfers& transfers);

    bool OnInitDialog() override;
    void OnOK() override;
    void OnClicked(int nId) override;
    void OnFocused(int nId) override;
    void OnSetfocusEmail();
    void OnAdvanced();

    // Whether OK accepts the e-mail box's text: empty, or holding "@",
    // fitting m_szEmail and, sent, the request URL.
    static bool IsAcceptableEmail(const std::string& text);

private:
    CConfig& m_config;
    kivo::net::Transfers& m_transfers;
};

class CSystemSettingsDlg : public CDialogBase {
public:
    explicit CSystemSettingsDlg(CConfig& config);

    bool OnInitDialog() override;
    void OnOK() override;

private:
    CConfig& m_config;
};

class CAboutDlg : public CDialogBase {
public:
    CAboutDlg();
};
