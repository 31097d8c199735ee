#pragma once
// The popup's page while the one asked for cannot be had: the program's own
// page in the skin's colours, telling whether the content server could not be
// reached or the page could not be shown, and the tries to get the real page
// back (every 60 seconds, and at once whenever the popup is shown). The page
// view reports what became of each page; the trace gets one line per event.
#include <string>

class IHotListView;

// The address a page view reports for a page the program gave it as text.
inline constexpr const char* kszOwnPageUri = "about:blank";

// The window's timer of the next try.
enum : unsigned { kTimerPageRetry = 4 };

// The seconds between two tries: 60, or KIVO_PAGE_RETRY_SECONDS=N in the
// environment (development and tests; 1 to 60, anything else is 60).
unsigned PageRetrySeconds();

// The program's own page for `uri`, GBK HTML that says so: the server's
// heading for an http:// or https:// address, the page's otherwise.
std::string StandInHtml(const std::string& uri);

class CStandInPage {
public:
    explicit CStandInPage(IHotListView& view) : m_view(view) {}

    // Shows the page at `address` (a program address, GBK); a stand-in
    // shown meanwhile and its tries end.
    void Navigate(const std::string& address);

    // What the page view reports.
    void OnLoaded(const std::string& uri);
    void OnFailed(const std::string& uri, const std::string& reason);

    // The popup was shown: a page that could not be had is asked for again
    // at once, and the next try is a whole period away.
    void OnShown();
    // kTimerPageRetry fired.
    void OnRetryTimer();

    // Whether the program's own page stands in for the one asked for.
    bool Standing() const { return !m_failedUri.empty(); }

private:
    void Retry();
    void Stop();

    IHotListView& m_view;
    std::string m_address;    // the page asked for last
    std::string m_failedUri;  // as the view reported it, while it cannot be had
};
