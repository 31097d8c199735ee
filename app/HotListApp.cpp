#include "app/HotListApp.h"

#include "platform/InstanceGuard.h"

CHotListApp theApp;

bool CHotListApp::InitInstance() {
    if (kivo::platform::AcquireInstanceGuard("kivo") == kivo::platform::GuardResult::AlreadyRunning)
        return false;
    m_config.LoadConfig();
    return true;
}
