#include "shells/gtk/WebKitPageView.h"

#include <utility>

namespace kivo::gtk {

namespace {

// Until the first page: the page colour of the skin. Pages are on white.
constexpr GdkRGBA kEmpty{0x11 / 255.0, 0x14 / 255.0, 0x18 / 255.0, 1.0};
constexpr GdkRGBA kWhite{1.0, 1.0, 1.0, 1.0};

}  // namespace

std::unique_ptr<IPageView> CreatePageView(std::shared_ptr<platform::IHttpClient>, int width, int height,
                                          PageViewEvents events) {
    return std::make_unique<CWebKitPageView>(width, height, std::move(events));
}

CWebKitPageView::CWebKitPageView(int width, int height, PageViewEvents events)
    : m_events(std::move(events)), m_width(width), m_height(height) {
    m_box = gtk_event_box_new();
    gtk_event_box_set_visible_window(GTK_EVENT_BOX(m_box), FALSE);
    g_object_ref_sink(m_box);
    gtk_widget_set_size_request(m_box, width, height);
    g_signal_connect(m_box, "draw", G_CALLBACK(OnDrawEmpty), this);
}

CWebKitPageView::~CWebKitPageView() {
    g_signal_handlers_disconnect_by_data(m_box, this);
    if (m_view != nullptr) g_signal_handlers_disconnect_by_data(m_view, this);
    g_object_unref(m_box);
}

WebKitWebView* CWebKitPageView::View() {
    if (m_view == nullptr) {
        // Nothing of the web view's is kept on disk: no cache, no cookies,
        // no site data; and no page is taken from memory either: each is
        // asked for, as the program's own transfers are.
        WebKitWebContext* context = webkit_web_context_new_ephemeral();
        webkit_web_context_set_cache_model(context, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
        m_view = webkit_web_view_new_with_context(context);
        g_object_unref(context);
        WebKitSettings* settings = webkit_web_view_get_settings(WEBKIT_WEB_VIEW(m_view));
        webkit_settings_set_hardware_acceleration_policy(settings, WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER);
        webkit_settings_set_default_charset(settings, "GBK");
        webkit_web_view_set_background_color(WEBKIT_WEB_VIEW(m_view), &kEmpty);
        gtk_widget_set_size_request(m_view, m_width, m_height);
        g_signal_connect(m_view, "context-menu", G_CALLBACK(OnContextMenu), this);
        g_signal_connect(m_view, "load-changed", G_CALLBACK(OnLoadChanged), this);
        g_signal_connect(m_view, "load-failed", G_CALLBACK(OnLoadFailed), this);
        g_signal_connect(m_view, "notify::title", G_CALLBACK(OnTitle), this);
        g_signal_connect(m_view, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
        gtk_container_add(GTK_CONTAINER(m_box), m_view);
        gtk_widget_show(m_view);
    }
    return WEBKIT_WEB_VIEW(m_view);
}

gboolean CWebKitPageView::OnDrawEmpty(GtkWidget* box, cairo_t* cr, gpointer) {
    // Until the web view is there: the page colour of the skin.
    if (gtk_bin_get_child(GTK_BIN(box)) != nullptr) return FALSE;
    gdk_cairo_set_source_rgba(cr, &kEmpty);
    cairo_paint(cr);
    return FALSE;
}

void CWebKitPageView::Load(const std::string& uri) {
    m_asked = uri;
    webkit_web_view_load_uri(View(), uri.c_str());
}

void CWebKitPageView::LoadHtml(const std::string& html) {
    m_asked.clear();
    webkit_web_view_load_html(View(), html.c_str(), nullptr);
}

gboolean CWebKitPageView::OnContextMenu(WebKitWebView*, WebKitContextMenu*, GdkEvent*, WebKitHitTestResult*, gpointer) {
    return TRUE;  // the page never opens its context menu
}

void CWebKitPageView::OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer self) {
    auto* page = static_cast<CWebKitPageView*>(self);
    if (event == WEBKIT_LOAD_STARTED) page->m_bFailed = false;
    if (event == WEBKIT_LOAD_COMMITTED) webkit_web_view_set_background_color(view, &kWhite);
    // A failed load finishes too, and has been reported as failed.
    if (event != WEBKIT_LOAD_FINISHED || std::exchange(page->m_bFailed, false)) return;
    const char* uri = webkit_web_view_get_uri(view);
    const std::string asked = std::exchange(page->m_asked, std::string());
    if (!asked.empty() && (uri == nullptr || std::string(uri) == "about:blank")) {
        // The engine refused the address (a port it keeps closed) and shows
        // an empty white page instead, reporting no failure of its own.
        webkit_web_view_set_background_color(view, &kEmpty);
        if (page->m_events.failed) page->m_events.failed(asked, "refused by the web engine");
        return;
    }
    if (page->m_events.loaded) page->m_events.loaded(uri != nullptr ? uri : "");
}

gboolean CWebKitPageView::OnLoadFailed(WebKitWebView* view, WebKitLoadEvent, gchar* uri, GError* error, gpointer self) {
    // A load that another one replaced has not failed.
    if (error != nullptr && g_error_matches(error, WEBKIT_NETWORK_ERROR, WEBKIT_NETWORK_ERROR_CANCELLED)) return TRUE;
    auto* page = static_cast<CWebKitPageView*>(self);
    page->m_bFailed = true;
    // Never the engine's own error page: the window gives the page to show.
    webkit_web_view_set_background_color(view, &kEmpty);
    if (page->m_events.failed) page->m_events.failed(uri != nullptr ? uri : "", error != nullptr ? error->message : "");
    return TRUE;
}

void CWebKitPageView::OnTitle(GObject* view, GParamSpec*, gpointer self) {
    auto* page = static_cast<CWebKitPageView*>(self);
    const char* title = webkit_web_view_get_title(WEBKIT_WEB_VIEW(view));
    if (title != nullptr && title[0] != '\0' && page->m_events.title) page->m_events.title(title);
}

gboolean CWebKitPageView::OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision, WebKitPolicyDecisionType type,
                                         gpointer self) {
    if (type != WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION && type != WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION)
        return FALSE;
    WebKitNavigationAction* action =
        webkit_navigation_policy_decision_get_navigation_action(WEBKIT_NAVIGATION_POLICY_DECISION(decision));
    if (webkit_navigation_action_get_navigation_type(action) != WEBKIT_NAVIGATION_TYPE_LINK_CLICKED) return FALSE;
    // A link is reported and not followed: the view stays on its page.
    auto* page = static_cast<CWebKitPageView*>(self);
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    webkit_policy_decision_ignore(decision);
    if (uri != nullptr && page->m_events.linkActivated) {
        // Its bytes as the page wrote them: WebKit escaped what it encoded.
        gchar* bytes = g_uri_unescape_string(uri, nullptr);
        page->m_events.linkActivated(bytes != nullptr ? bytes : uri);
        g_free(bytes);
    }
    return TRUE;
}

}  // namespace kivo::gtk
