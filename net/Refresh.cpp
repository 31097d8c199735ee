#include <atomic>

#include "app/Config.h"
#include "app/Jobs.h"
#include "net/Catalogue.h"
#include "platform/System.h"

int CConfig::RefreshPages() {
    const std::string local = GetPageBase(true);
    const std::string remote = GetPageBase(false);
    for (int i = 0; i < kRefreshItemCount; ++i) {
        const std::string name = g_szRefreshItems[i];
        // The shared background image is fetched only while it is missing.
        if (i == 0 && FileExists(local + name)) continue;
        DownloadFile(remote + name, local + name);
    }
    return 1;
}

void CConfig::RemoveLeftovers() {
    kivo::platform::RemoveFile(GetConfigPath() + ".tmp");
    const std::string local = GetPageBase(true);
    for (int i = 0; i < kRefreshItemCount; ++i) kivo::platform::RemoveFile(local + g_szRefreshItems[i] + ".part");
}

unsigned RefreshThreadProc(void* pParam) {
    static std::atomic<bool> s_bRefreshing{false};
    if (pParam == nullptr) return 0;
    auto& context = *static_cast<JobContext*>(pParam);
    if (s_bRefreshing.exchange(true)) return 0;
    context.config.RefreshPages();
    s_bRefreshing = false;
    if (context.onRefreshed) context.onRefreshed();
    return 0;
}
