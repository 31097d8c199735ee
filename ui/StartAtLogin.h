#pragma once
// Where the program is registered to start when the user logs in. Each
// desktop shell installs its platform's entry; without one nothing is
// written.
#include <string>

namespace kivo::ui {

class IStartAtLogin {
public:
    virtual ~IStartAtLogin() = default;
    // On: the entry starts `exePath`. Off: the entry stays, disabled. False
    // when it could not be written.
    virtual bool Write(bool bOn, const std::string& exePath) = 0;
};

// The entry CConfig::SetAutoRun writes; null: none.
void SetStartAtLogin(IStartAtLogin* entry);
IStartAtLogin* StartAtLogin();

}  // namespace kivo::ui
