#pragma once
// The popup's page view, item 1001: one page at a time, each Load replacing
// the page before it. No history, no script, no forms, no context menu; a
// right-button click does nothing. Two views exist: the light one (litehtml,
// cairo, pango), which is the default, and WebKitGTK's (-DKIVO_PAGE_VIEW=
// webkit). Everything here runs on the user-interface thread.
#include <gtk/gtk.h>

#include <functional>
#include <memory>
#include <string>

namespace kivo::platform {
class IHttpClient;
}

namespace kivo::gtk {

// What a view tells its window. Every member may be empty.
struct PageViewEvents {
    // The page of `uri` shows, with the images it names tried. A page given
    // as text (LoadHtml) reports "about:blank".
    std::function<void(const std::string& uri)> loaded;
    // The page of `uri` could not be had (no answer, a broken transfer, a
    // folder, not a page at all). The view then shows an empty page until
    // the window gives it another.
    std::function<void(const std::string& uri, const std::string& reason)> failed;
    // The page's title, UTF-8.
    std::function<void(const std::string& title)> title;
    // A left click on a link: the link's address, resolved against the
    // page's, in the page's own bytes (GBK for the content server's pages).
    // The view stays on its page.
    std::function<void(const std::string& address)> linkActivated;
};

class IPageView {
public:
    virtual ~IPageView() = default;
    // The widget the window places; the view asks for its given size.
    virtual GtkWidget* Widget() = 0;
    // Shows the page at `uri`, a "file://" or "http://" URI.
    virtual void Load(const std::string& uri) = 0;
    // Shows a page the program holds itself, UTF-8 HTML.
    virtual void LoadHtml(const std::string& html) = 0;
};

// The view this program is built with, `width` x `height` pixels. Its http://
// pages and images come through `http` with the program's user agent.
std::unique_ptr<IPageView> CreatePageView(std::shared_ptr<platform::IHttpClient> http, int width, int height,
                                          PageViewEvents events);

}  // namespace kivo::gtk
