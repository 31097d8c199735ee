#include "ui/StandInPage.h"

#include <cstdlib>
#include <string>

#include "ui/HotListView.h"
#include "ui/Texts.h"

namespace {

bool IsWebAddress(const std::string& address) {
    return address.rfind("http://", 0) == 0 || address.rfind("https://", 0) == 0;
}

}  // namespace

unsigned PageRetrySeconds() {
    const char* value = std::getenv("KIVO_PAGE_RETRY_SECONDS");
    if (value == nullptr || *value == '\0') return 60;
    char* end = nullptr;
    const long seconds = std::strtol(value, &end, 10);
    return *end == '\0' && seconds >= 1 && seconds <= 60 ? static_cast<unsigned>(seconds) : 60;
}

std::string StandInHtml(const std::string& uri) {
    const char* heading = IsWebAddress(uri) ? kszNoServer : kszNoPage;
    return std::string(
               "<html><head><meta charset=\"gbk\"><style>"
               "html,body{margin:0;background:#111418;overflow:hidden}"
               "body{color:#A9B0B8;font-size:12px;text-align:center}"
               "h1{margin:0;padding:36px 4px 10px 4px;color:#E8453C;font-size:12px;line-height:16px;"
               "font-weight:bold}"
               "p{margin:0;padding:0 10px;line-height:18px}"
               "</style></head><body><h1>") +
           heading + "</h1><p>" + kszNoPageHelp + "</p></body></html>";
}

void CStandInPage::Navigate(const std::string& address) {
    Stop();
    m_address = address;
    m_view.Navigate(address);
}

void CStandInPage::OnLoaded(const std::string& uri) {
    m_view.TraceLine("page loaded " + uri);
    // A real page is back: the stand-in and its tries end.
    if (uri != kszOwnPageUri) Stop();
}

void CStandInPage::OnFailed(const std::string& uri, const std::string& reason) {
    m_view.TraceLine("page failed " + uri + " " + reason);
    if (uri == kszOwnPageUri || m_address.empty()) return;
    // Never an engine's own error text: the program's own page, and the page
    // is asked for again from time to time.
    m_failedUri = uri;
    m_view.ShowOwnPage(StandInHtml(uri));
    m_view.TraceLine("page stand-in for " + uri);
    m_view.SetTimer(kTimerPageRetry, PageRetrySeconds() * 1000);
}

void CStandInPage::OnShown() {
    if (!Standing()) return;
    Retry();
    m_view.SetTimer(kTimerPageRetry, PageRetrySeconds() * 1000);
}

void CStandInPage::OnRetryTimer() {
    if (Standing())
        Retry();
    else
        m_view.KillTimer(kTimerPageRetry);
}

void CStandInPage::Retry() {
    m_view.TraceLine("page retry " + m_failedUri);
    m_view.Navigate(m_address);
}

void CStandInPage::Stop() {
    if (m_failedUri.empty()) return;
    m_failedUri.clear();
    m_view.KillTimer(kTimerPageRetry);
}
