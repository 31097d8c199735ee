#pragma once
// The page view on WebKitGTK, for pages that need a browser
// (-DKIVO_PAGE_VIEW=webkit): an ephemeral web view (nothing kept on disk)
// without hardware acceleration, GBK where a page declares no charset, no
// context menu, links reported and not followed. The web view is made when
// the first page is asked for: making it costs hundreds of milliseconds,
// which the skin does not wait for.
#include <webkit2/webkit2.h>

#include <string>

#include "shells/gtk/PageView.h"

namespace kivo::gtk {

class CWebKitPageView final : public IPageView {
public:
    CWebKitPageView(int width, int height, PageViewEvents events);
    ~CWebKitPageView() override;
    CWebKitPageView(const CWebKitPageView&) = delete;
    CWebKitPageView& operator=(const CWebKitPageView&) = delete;

    GtkWidget* Widget() override { return m_box; }
    void Load(const std::string& uri) override;
    void LoadHtml(const std::string& html) override;

private:
    WebKitWebView* View();
    static gboolean OnDrawEmpty(GtkWidget*, cairo_t* cr, gpointer);
    static void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self);
    static gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer self);
    static void OnTitle(GObject* view, GParamSpec*, gpointer self);
    static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                   gpointer self);
    static gboolean OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer);

    PageViewEvents m_events;
    int m_width;
    int m_height;
    GtkWidget* m_box = nullptr;  // holds the web view once it is made
    GtkWidget* m_view = nullptr;
    bool m_bFailed = false;  // the load under way failed
    // The address of the page asked for, until it loads or fails; empty for
    // a page given as text.
    std::string m_asked;
};

}  // namespace kivo::gtk
