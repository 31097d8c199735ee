#include <atomic>

#include "app/Config.h"
#include "platform/System.h"
#include "ui/StartAtLogin.h"

namespace kivo::ui {

namespace {
std::atomic<IStartAtLogin*> g_entry{nullptr};
}

void SetStartAtLogin(IStartAtLogin* entry) { g_entry = entry; }
IStartAtLogin* StartAtLogin() { return g_entry; }

}  // namespace kivo::ui

// The whole path is kept however long it is: a cut path would start nothing.
std::string CConfig::GetExePath() const { return kivo::platform::ExecutablePath(); }

int CConfig::SetAutoRun(int bOn) {
    // An entry that cannot be written leaves only the record's flag changed.
    if (kivo::ui::IStartAtLogin* entry = kivo::ui::StartAtLogin()) entry->Write(bOn != 0, GetExePath());
    return 1;
}
