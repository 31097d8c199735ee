#include "app/HotListApp.h"

#include "platform/InstanceGuard.h"

CHotListApp theApp;

bool CHotListApp::InitInstance() {
    if (kivo::platform::AcquireInstanceGuard("kivo") == kivo::platform::GuardResult::AlreadyRunning) return false;
    m_bSettingsLoaded = m_config.LoadConfig() != 0;
    return true;
}

void CHotListApp::SetUpStartAtLoginOnFirstStart() {
    if (!m_bSettingsLoaded) m_config.AdoptStartAtLogin();
}
