#include "shells/gtk/LitePageView.h"

#include "shells/gtk/PageFetch.h"
#include "shells/gtk/PageText.h"
#include "shells/gtk/Worker.h"

namespace kivo::gtk {

namespace {

constexpr std::size_t kPageLimit = 1 << 20;
constexpr std::size_t kImageLimit = 4 << 20;
// Where there is no page: the page colour of the skin.
constexpr double kEmpty[3] = {0x11 / 255.0, 0x14 / 255.0, 0x18 / 255.0};

}  // namespace

std::unique_ptr<IPageView> CreatePageView(std::shared_ptr<platform::IHttpClient> http, int width, int height,
                                          PageViewEvents events) {
    return std::make_unique<CLitePageView>(std::move(http), width, height, std::move(events));
}

CLitePageView::CLitePageView(std::shared_ptr<platform::IHttpClient> http, int width, int height,
                             PageViewEvents events)
    : m_http(std::move(http)), m_width(width), m_height(height), m_events(std::move(events)) {
    // Without a window of its own, so that the skin's images laid over the
    // page's edges show over it, as over the other controls.
    m_area = gtk_event_box_new();
    gtk_event_box_set_visible_window(GTK_EVENT_BOX(m_area), FALSE);
    g_object_ref_sink(m_area);
    gtk_widget_set_size_request(m_area, width, height);
    gtk_widget_set_can_focus(m_area, TRUE);
    gtk_widget_set_has_tooltip(m_area, TRUE);
    gtk_widget_add_events(m_area, GDK_POINTER_MOTION_MASK | GDK_LEAVE_NOTIFY_MASK | GDK_BUTTON_PRESS_MASK |
                                      GDK_BUTTON_RELEASE_MASK);
    g_signal_connect(m_area, "draw", G_CALLBACK(OnDraw), this);
    g_signal_connect(m_area, "motion-notify-event", G_CALLBACK(OnMotion), this);
    g_signal_connect(m_area, "leave-notify-event", G_CALLBACK(OnLeave), this);
    g_signal_connect(m_area, "button-press-event", G_CALLBACK(OnButtonPress), this);
    g_signal_connect(m_area, "button-release-event", G_CALLBACK(OnButtonRelease), this);
    g_signal_connect(m_area, "query-tooltip", G_CALLBACK(OnQueryTooltip), this);
}

CLitePageView::~CLitePageView() {
    g_signal_handlers_disconnect_by_data(m_area, this);
    g_object_unref(m_area);
}

void CLitePageView::Load(const std::string& uri) {
    const unsigned generation = ++m_generation;
    m_uri = uri;
    std::shared_ptr<platform::IHttpClient> http = m_http;
    RunOffThread<Prepared>(
        [http, uri]() {
            Prepared page;
            Fetched fetched = FetchUri(http.get(), uri, kPageLimit);
            if (!fetched.ok) {
                page.error = fetched.error;
                return page;
            }
            std::optional<PageText> text = DecodePage(fetched.bytes);
            if (!text) {
                page.error = "not a page";
                return page;
            }
            page.ok = true;
            page.html = CLitePage::Bounded(std::move(text->utf8));
            page.charset = text->charset;
            return page;
        },
        [alive = std::weak_ptr<int>(m_alive), this, generation, uri](Prepared page) {
            if (!alive.expired() && generation == m_generation) Show(uri, std::move(page));
        },
        Prepared{false, "", "", "no thread to read it"});
}

void CLitePageView::LoadHtml(const std::string& html) {
    ++m_generation;
    m_uri = "about:blank";
    Show(m_uri, Prepared{true, CLitePage::Bounded(html), "UTF-8", ""});
}

void CLitePageView::Show(const std::string& uri, Prepared page) {
    m_imagesPending = 0;
    if (!page.ok) {
        m_page.reset();
        Redraw();
        if (m_events.failed) m_events.failed(uri, page.error);
        return;
    }
    m_charset = page.charset;
    m_page = std::make_unique<CLitePage>(page.html, uri, m_width, m_height);
    Redraw();
    FetchImages();
    if (m_events.title && !m_page->Title().empty()) m_events.title(m_page->Title());
    if (m_imagesPending == 0 && m_events.loaded) m_events.loaded(uri);
}

void CLitePageView::FetchImages() {
    const unsigned generation = m_generation;
    std::shared_ptr<platform::IHttpClient> http = m_http;
    for (const std::string& uri : m_page->TakeWantedImages()) {
        ++m_imagesPending;
        RunOffThread<GdkPixbuf*>(
            [http, uri]() { return DecodeImage(FetchUri(http.get(), uri, kImageLimit).bytes); },
            [alive = std::weak_ptr<int>(m_alive), this, generation, uri](GdkPixbuf* image) {
                if (!alive.expired()) ImageArrived(generation, uri, image);
                else if (image != nullptr) g_object_unref(image);
            },
            nullptr);
    }
}

void CLitePageView::ImageArrived(unsigned generation, const std::string& uri, GdkPixbuf* image) {
    if (generation == m_generation && m_page) {
        m_page->SetImage(uri, image);
        --m_imagesPending;
        FetchImages();  // a page laid out anew may name more
        Redraw();
        if (m_imagesPending == 0 && m_events.loaded) m_events.loaded(m_uri);
    }
    if (image != nullptr) g_object_unref(image);
}

void CLitePageView::Redraw() { gtk_widget_queue_draw(m_area); }

gboolean CLitePageView::OnDraw(GtkWidget*, cairo_t* cr, gpointer self) {
    auto* view = static_cast<CLitePageView*>(self);
    GdkRectangle area{0, 0, view->m_width, view->m_height};
    gdk_cairo_get_clip_rectangle(cr, &area);
    if (view->m_page) {
        // A page that paints no background of its own is on white, as in a browser.
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        view->m_page->Draw(cr, area.x, area.y, area.width, area.height);
    } else {
        cairo_set_source_rgb(cr, kEmpty[0], kEmpty[1], kEmpty[2]);
        cairo_paint(cr);
    }
    return TRUE;
}

gboolean CLitePageView::OnMotion(GtkWidget* widget, GdkEventMotion* event, gpointer self) {
    auto* view = static_cast<CLitePageView*>(self);
    if (!view->m_page) return TRUE;
    if (view->m_page->MouseMove(static_cast<int>(event->x), static_cast<int>(event->y))) view->Redraw();
    const std::string& cursor = view->m_page->Cursor();
    if (cursor != view->m_cursor) {
        view->m_cursor = cursor;
        GdkWindow* window = gtk_widget_get_window(widget);
        GdkCursor* shape = cursor == "pointer" ? gdk_cursor_new_from_name(gdk_window_get_display(window), "pointer")
                                               : nullptr;
        gdk_window_set_cursor(window, shape);
        if (shape != nullptr) g_object_unref(shape);
    }
    return TRUE;
}

gboolean CLitePageView::OnLeave(GtkWidget* widget, GdkEventCrossing*, gpointer self) {
    auto* view = static_cast<CLitePageView*>(self);
    if (view->m_page && view->m_page->MouseLeave()) view->Redraw();
    // The cursor is the window's (the view has no window of its own): the
    // page's goes with the mouse.
    if (!view->m_cursor.empty()) {
        view->m_cursor.clear();
        gdk_window_set_cursor(gtk_widget_get_window(widget), nullptr);
    }
    return FALSE;
}

gboolean CLitePageView::OnButtonPress(GtkWidget* widget, GdkEventButton* event, gpointer self) {
    // Every button stops here: the window is not dragged from the page and
    // no menu opens on it.
    auto* view = static_cast<CLitePageView*>(self);
    if (event->type != GDK_BUTTON_PRESS || event->button != 1) return TRUE;
    gtk_widget_grab_focus(widget);
    if (view->m_page && view->m_page->ButtonDown(static_cast<int>(event->x), static_cast<int>(event->y)))
        view->Redraw();
    return TRUE;
}

gboolean CLitePageView::OnButtonRelease(GtkWidget*, GdkEventButton* event, gpointer self) {
    auto* view = static_cast<CLitePageView*>(self);
    if (event->button != 1 || !view->m_page) return TRUE;
    std::string link;
    if (view->m_page->ButtonUp(static_cast<int>(event->x), static_cast<int>(event->y), link)) view->Redraw();
    if (!link.empty() && view->m_events.linkActivated)
        view->m_events.linkActivated(EncodeForPage(link, view->m_charset));
    return TRUE;
}

gboolean CLitePageView::OnQueryTooltip(GtkWidget*, gint x, gint y, gboolean, GtkTooltip* tooltip, gpointer self) {
    auto* view = static_cast<CLitePageView*>(self);
    const std::string text = view->m_page ? view->m_page->TooltipAt(x, y) : std::string();
    if (text.empty()) return FALSE;
    gtk_tooltip_set_text(tooltip, text.c_str());
    return TRUE;
}

}  // namespace kivo::gtk
