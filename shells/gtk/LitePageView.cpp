#include "shells/gtk/LitePageView.h"

#include <algorithm>

#include <gtk/gtk-a11y.h>

#include "shells/gtk/PageFetch.h"
#include "shells/gtk/PageText.h"
#include "shells/gtk/Worker.h"

namespace kivo::gtk {

namespace {

constexpr std::size_t kPageLimit = 1 << 20;
constexpr std::size_t kImageLimit = 4 << 20;
// Where there is no page: the page colour of the skin.
constexpr double kEmpty[3] = {0x11 / 255.0, 0x14 / 255.0, 0x18 / 255.0};
constexpr const char* kViewKey = "kivo-page-view";

// --- the view's widget and what assistive technology sees of it -----------
//
// The widget is an event box whose accessible object is the page: a
// document with the page's text, whose children are the page's links.

struct KivoPageArea {
    GtkEventBox parent;
};
struct KivoPageAreaClass {
    GtkEventBoxClass parentClass;
};

struct KivoPageAccessible {
    GtkContainerAccessible parent;
};
struct KivoPageAccessibleClass {
    GtkContainerAccessibleClass parentClass;
};

// One link of the page; `view` is cleared when the page or the view goes.
struct KivoPageLink {
    AtkObject parent;
    CLitePageView* view;
    int index;
};
struct KivoPageLinkClass {
    AtkObjectClass parentClass;
};

GType kivo_page_area_get_type();
GType kivo_page_accessible_get_type();
GType kivo_page_link_get_type();

G_DEFINE_TYPE(KivoPageArea, kivo_page_area, GTK_TYPE_EVENT_BOX)

void kivo_page_area_class_init(KivoPageAreaClass* klass) {
    gtk_widget_class_set_accessible_type(GTK_WIDGET_CLASS(klass), kivo_page_accessible_get_type());
    gtk_widget_class_set_accessible_role(GTK_WIDGET_CLASS(klass), ATK_ROLE_DOCUMENT_FRAME);
}
void kivo_page_area_init(KivoPageArea*) {}

CLitePageView* ViewOf(gpointer accessible) {
    GtkWidget* widget = gtk_accessible_get_widget(GTK_ACCESSIBLE(accessible));
    return widget != nullptr ? static_cast<CLitePageView*>(g_object_get_data(G_OBJECT(widget), kViewKey)) : nullptr;
}

// The document's text, by character offsets.
std::string DocumentText(AtkText* text) {
    const CLitePageView* view = ViewOf(text);
    return view != nullptr ? view->Text() : std::string();
}

gchar* PageGetText(AtkText* text, gint start, gint end) {
    const std::string all = DocumentText(text);
    const glong count = g_utf8_strlen(all.c_str(), -1);
    if (end < 0 || end > count) end = static_cast<gint>(count);
    start = std::clamp(start, 0, end);
    const gchar* from = g_utf8_offset_to_pointer(all.c_str(), start);
    const gchar* to = g_utf8_offset_to_pointer(all.c_str(), end);
    return g_strndup(from, static_cast<gsize>(to - from));
}

gint PageCharacterCount(AtkText* text) { return static_cast<gint>(g_utf8_strlen(DocumentText(text).c_str(), -1)); }

gunichar PageCharacterAt(AtkText* text, gint offset) {
    const std::string all = DocumentText(text);
    if (offset < 0 || offset >= g_utf8_strlen(all.c_str(), -1)) return 0;
    return g_utf8_get_char(g_utf8_offset_to_pointer(all.c_str(), offset));
}

gint PageCaretOffset(AtkText*) { return -1; }

void kivo_page_accessible_text_init(AtkTextIface* iface) {
    iface->get_text = PageGetText;
    iface->get_character_count = PageCharacterCount;
    iface->get_character_at_offset = PageCharacterAt;
    iface->get_caret_offset = PageCaretOffset;
}

G_DEFINE_TYPE_WITH_CODE(KivoPageAccessible, kivo_page_accessible, GTK_TYPE_CONTAINER_ACCESSIBLE,
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_TEXT, kivo_page_accessible_text_init))

gint PageChildCount(AtkObject* accessible) {
    const CLitePageView* view = ViewOf(accessible);
    return view != nullptr ? static_cast<gint>(view->Links().size()) : 0;
}

AtkObject* PageRefChild(AtkObject* accessible, gint index) {
    CLitePageView* view = ViewOf(accessible);
    AtkObject* link = view != nullptr ? view->LinkAccessible(index) : nullptr;
    return link != nullptr ? ATK_OBJECT(g_object_ref(link)) : nullptr;
}

void kivo_page_accessible_class_init(KivoPageAccessibleClass* klass) {
    AtkObjectClass* object = ATK_OBJECT_CLASS(klass);
    object->get_n_children = PageChildCount;
    object->ref_child = PageRefChild;
}
void kivo_page_accessible_init(KivoPageAccessible*) {}

// A link: activate opens it as a click does; its extents are its box.
KivoPageLink* AsLink(gpointer object) {
    return G_TYPE_CHECK_INSTANCE_CAST(object, kivo_page_link_get_type(), KivoPageLink);
}

gboolean LinkActivateIdle(gpointer object) {
    KivoPageLink* link = AsLink(object);
    if (link->view != nullptr) link->view->ActivateLink(link->index);
    return G_SOURCE_REMOVE;
}

gboolean LinkDoAction(AtkAction* action, gint i) {
    if (i != 0 || AsLink(action)->view == nullptr) return FALSE;
    // After the caller's request has been answered, as GTK's own actions do.
    g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, LinkActivateIdle, g_object_ref(action), g_object_unref);
    return TRUE;
}
gint LinkActionCount(AtkAction*) { return 1; }
const gchar* LinkActionName(AtkAction*, gint i) { return i == 0 ? "activate" : nullptr; }

void kivo_page_link_action_init(AtkActionIface* iface) {
    iface->do_action = LinkDoAction;
    iface->get_n_actions = LinkActionCount;
    iface->get_name = LinkActionName;
}

void LinkExtents(AtkComponent* component, gint* x, gint* y, gint* width, gint* height, AtkCoordType coords) {
    *x = *y = *width = *height = 0;
    KivoPageLink* link = AsLink(component);
    if (link->view == nullptr) return;
    GtkWidget* widget = link->view->Widget();
    GdkWindow* window = gtk_widget_get_window(widget);
    if (window == nullptr) return;
    const GdkRectangle box = link->view->LinkBox(link->index);
    GtkAllocation allocation;
    gtk_widget_get_allocation(widget, &allocation);
    // The view has no window of its own: its allocation is in its parent's.
    int originX = 0, originY = 0;
    gdk_window_get_origin(window, &originX, &originY);
    *x = originX + allocation.x + box.x;
    *y = originY + allocation.y + box.y;
    if (coords == ATK_XY_WINDOW) {
        int topX = 0, topY = 0;
        gdk_window_get_origin(gdk_window_get_toplevel(window), &topX, &topY);
        *x -= topX;
        *y -= topY;
    }
    *width = box.width;
    *height = box.height;
}

gboolean LinkGrabFocus(AtkComponent* component) {
    KivoPageLink* link = AsLink(component);
    if (link->view == nullptr) return FALSE;
    gtk_widget_grab_focus(link->view->Widget());
    link->view->FocusLink(link->index);
    return TRUE;
}

void kivo_page_link_component_init(AtkComponentIface* iface) {
    iface->get_extents = LinkExtents;
    iface->grab_focus = LinkGrabFocus;
}

G_DEFINE_TYPE_WITH_CODE(KivoPageLink, kivo_page_link, ATK_TYPE_OBJECT,
                        G_IMPLEMENT_INTERFACE(ATK_TYPE_ACTION, kivo_page_link_action_init)
                            G_IMPLEMENT_INTERFACE(ATK_TYPE_COMPONENT, kivo_page_link_component_init))

gint LinkIndexInParent(AtkObject* object) { return AsLink(object)->index; }

AtkStateSet* LinkStates(AtkObject* object) {
    AtkStateSet* states = ATK_OBJECT_CLASS(kivo_page_link_parent_class)->ref_state_set(object);
    KivoPageLink* link = AsLink(object);
    if (link->view == nullptr) {
        atk_state_set_add_state(states, ATK_STATE_DEFUNCT);
        return states;
    }
    for (AtkStateType state : {ATK_STATE_ENABLED, ATK_STATE_SENSITIVE, ATK_STATE_FOCUSABLE, ATK_STATE_VISIBLE})
        atk_state_set_add_state(states, state);
    GtkWidget* widget = link->view->Widget();
    if (gtk_widget_is_drawable(widget)) atk_state_set_add_state(states, ATK_STATE_SHOWING);
    if (link->view->FocusedLink() == link->index && gtk_widget_has_focus(widget))
        atk_state_set_add_state(states, ATK_STATE_FOCUSED);
    return states;
}

void kivo_page_link_class_init(KivoPageLinkClass* klass) {
    AtkObjectClass* object = ATK_OBJECT_CLASS(klass);
    object->get_index_in_parent = LinkIndexInParent;
    object->ref_state_set = LinkStates;
}
void kivo_page_link_init(KivoPageLink* link) {
    link->view = nullptr;
    link->index = -1;
}

bool IsActivateKey(guint key) {
    return key == GDK_KEY_Return || key == GDK_KEY_KP_Enter || key == GDK_KEY_ISO_Enter || key == GDK_KEY_space ||
           key == GDK_KEY_KP_Space;
}

}  // namespace

std::unique_ptr<IPageView> CreatePageView(std::shared_ptr<platform::IHttpClient> http, int width, int height,
                                          PageViewEvents events) {
    return std::make_unique<CLitePageView>(std::move(http), width, height, std::move(events));
}

CLitePageView::CLitePageView(std::shared_ptr<platform::IHttpClient> http, int width, int height, PageViewEvents events)
    : m_http(std::move(http)), m_width(width), m_height(height), m_events(std::move(events)) {
    // Without a window of its own, so that the skin's images laid over the
    // page's edges show over it, as over the other controls.
    m_area = GTK_WIDGET(g_object_new(kivo_page_area_get_type(), nullptr));
    gtk_event_box_set_visible_window(GTK_EVENT_BOX(m_area), FALSE);
    g_object_ref_sink(m_area);
    g_object_set_data(G_OBJECT(m_area), kViewKey, this);
    gtk_widget_set_size_request(m_area, width, height);
    gtk_widget_set_can_focus(m_area, TRUE);
    gtk_widget_set_has_tooltip(m_area, TRUE);
    gtk_widget_add_events(
        m_area, GDK_POINTER_MOTION_MASK | GDK_LEAVE_NOTIFY_MASK | GDK_BUTTON_PRESS_MASK | GDK_BUTTON_RELEASE_MASK);
    g_signal_connect(m_area, "draw", G_CALLBACK(OnDraw), this);
    g_signal_connect(m_area, "motion-notify-event", G_CALLBACK(OnMotion), this);
    g_signal_connect(m_area, "leave-notify-event", G_CALLBACK(OnLeave), this);
    g_signal_connect(m_area, "button-press-event", G_CALLBACK(OnButtonPress), this);
    g_signal_connect(m_area, "button-release-event", G_CALLBACK(OnButtonRelease), this);
    g_signal_connect(m_area, "query-tooltip", G_CALLBACK(OnQueryTooltip), this);
    gtk_widget_add_events(m_area, GDK_KEY_PRESS_MASK | GDK_FOCUS_CHANGE_MASK);
    g_signal_connect(m_area, "focus", G_CALLBACK(OnFocus), this);
    g_signal_connect(m_area, "focus-in-event", G_CALLBACK(OnFocusChange), this);
    g_signal_connect(m_area, "focus-out-event", G_CALLBACK(OnFocusChange), this);
    g_signal_connect(m_area, "key-press-event", G_CALLBACK(OnKeyPress), this);
}

CLitePageView::~CLitePageView() {
    DropLinkAccessibles();
    g_object_set_data(G_OBJECT(m_area), kViewKey, nullptr);
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
        m_shownUri.clear();
        PageChanged();
        Redraw();
        if (m_events.failed) m_events.failed(uri, page.error);
        return;
    }
    m_charset = page.charset;
    // The same page again (a new copy of it): the keyboard stays where it was.
    const int nSamePageFocus = m_page && uri == m_shownUri ? m_focused : -1;
    m_page = std::make_unique<CLitePage>(page.html, uri, m_width, m_height);
    m_shownUri = uri;
    PageChanged(nSamePageFocus);
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
        RunOffThread<GdkPixbuf*>([http, uri]() { return DecodeImage(FetchUri(http.get(), uri, kImageLimit).bytes); },
                                 [alive = std::weak_ptr<int>(m_alive), this, generation, uri](GdkPixbuf* image) {
                                     if (!alive.expired())
                                         ImageArrived(generation, uri, image);
                                     else if (image != nullptr)
                                         g_object_unref(image);
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

const std::vector<CLitePage::Link>& CLitePageView::Links() const {
    static const std::vector<CLitePage::Link> kNone;
    return m_page ? m_page->Links() : kNone;
}

std::string CLitePageView::Text() const { return m_page ? m_page->Text() : std::string(); }

std::string CLitePageView::Title() const { return m_page ? m_page->Title() : std::string(); }

GdkRectangle CLitePageView::LinkBox(int index) const {
    const auto& links = Links();
    if (index < 0 || static_cast<std::size_t>(index) >= links.size()) return GdkRectangle{0, 0, 0, 0};
    const litehtml::position& box = links[static_cast<std::size_t>(index)].box;
    return GdkRectangle{box.x, box.y, box.width, box.height};
}

AtkObject* CLitePageView::LinkAccessible(int index) {
    const auto& links = Links();
    if (index < 0 || static_cast<std::size_t>(index) >= links.size()) return nullptr;
    // Made for the links the page has now (a layout after an image may
    // change how many there are).
    if (m_linkAccessibles.size() != links.size()) {
        DropLinkAccessibles();
        AtkObject* page = gtk_widget_get_accessible(m_area);
        for (std::size_t i = 0; i < links.size(); ++i) {
            auto* link = static_cast<KivoPageLink*>(g_object_new(kivo_page_link_get_type(), nullptr));
            link->view = this;
            link->index = static_cast<int>(i);
            AtkObject* object = ATK_OBJECT(link);
            atk_object_set_role(object, ATK_ROLE_LINK);
            atk_object_set_name(object, links[i].name.c_str());
            atk_object_set_parent(object, page);
            m_linkAccessibles.push_back(object);
        }
    }
    return m_linkAccessibles[static_cast<std::size_t>(index)];
}

void CLitePageView::DropLinkAccessibles() {
    for (AtkObject* object : m_linkAccessibles) {
        AsLink(object)->view = nullptr;
        atk_object_notify_state_change(object, ATK_STATE_DEFUNCT, TRUE);
        g_object_unref(object);
    }
    m_linkAccessibles.clear();
}

void CLitePageView::PageChanged(int nSamePageFocus) {
    const bool told = !m_linkAccessibles.empty();
    DropLinkAccessibles();
    const auto& links = Links();
    m_focused = -1;
    for (std::size_t i = 0; i < links.size() && !m_focusedAddress.empty(); ++i)
        if (links[i].address == m_focusedAddress) m_focused = static_cast<int>(i);
    if (m_focused < 0 && nSamePageFocus >= 0 && !links.empty())
        m_focused = std::min(nSamePageFocus, static_cast<int>(links.size()) - 1);
    if (m_focused < 0 && gtk_widget_is_focus(m_area) && !links.empty()) m_focused = 0;
    m_focusedAddress = m_focused >= 0 ? links[static_cast<std::size_t>(m_focused)].address : std::string();
    // Assistive technology that has seen this view learns of the new page.
    AtkObject* page = gtk_widget_get_accessible(m_area);
    atk_object_set_name(page, Title().c_str());
    if (told || !links.empty()) g_signal_emit_by_name(page, "visible-data-changed");
}

void CLitePageView::FocusLink(int index) {
    const auto& links = Links();
    if (index < 0 || static_cast<std::size_t>(index) >= links.size()) return;
    const int before = m_focused;
    m_focused = index;
    m_focusedAddress = links[static_cast<std::size_t>(index)].address;
    Redraw();
    if (before != index && before >= 0 && static_cast<std::size_t>(before) < m_linkAccessibles.size())
        atk_object_notify_state_change(m_linkAccessibles[static_cast<std::size_t>(before)], ATK_STATE_FOCUSED, FALSE);
    if (static_cast<std::size_t>(index) < m_linkAccessibles.size() && gtk_widget_has_focus(m_area))
        atk_object_notify_state_change(m_linkAccessibles[static_cast<std::size_t>(index)], ATK_STATE_FOCUSED, TRUE);
}

void CLitePageView::ActivateLink(int index) {
    const auto& links = Links();
    if (index < 0 || static_cast<std::size_t>(index) >= links.size() || !m_events.linkActivated) return;
    // A copy: the event may give the view another page.
    const std::string address = EncodeForPage(links[static_cast<std::size_t>(index)].address, m_charset);
    m_events.linkActivated(address);
}

gboolean CLitePageView::OnFocus(GtkWidget* widget, GtkDirectionType direction, gpointer self) {
    auto* view = static_cast<CLitePageView*>(self);
    const int count = static_cast<int>(view->Links().size());
    if (count == 0) return FALSE;  // the widget's own: it takes the focus once
    const bool back = direction == GTK_DIR_TAB_BACKWARD || direction == GTK_DIR_UP || direction == GTK_DIR_LEFT;
    if (!gtk_widget_is_focus(widget)) {
        gtk_widget_grab_focus(widget);
        view->FocusLink(back ? count - 1 : 0);
        return TRUE;
    }
    const int next = view->m_focused < 0 ? (back ? count - 1 : 0) : view->m_focused + (back ? -1 : 1);
    if (next < 0 || next >= count) return FALSE;  // on to the next control
    view->FocusLink(next);
    return TRUE;
}

gboolean CLitePageView::OnFocusChange(GtkWidget*, GdkEventFocus* event, gpointer self) {
    auto* view = static_cast<CLitePageView*>(self);
    if (event->in && view->m_focused < 0 && !view->Links().empty())
        view->FocusLink(0);
    else if (view->m_focused >= 0 && static_cast<std::size_t>(view->m_focused) < view->m_linkAccessibles.size())
        atk_object_notify_state_change(view->m_linkAccessibles[static_cast<std::size_t>(view->m_focused)],
                                       ATK_STATE_FOCUSED, event->in);
    view->Redraw();
    return FALSE;
}

gboolean CLitePageView::OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer self) {
    auto* view = static_cast<CLitePageView*>(self);
    const int count = static_cast<int>(view->Links().size());
    if ((event->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK)) != 0 || count == 0) return FALSE;
    switch (event->keyval) {
        case GDK_KEY_Down:
        case GDK_KEY_KP_Down:
            view->FocusLink(std::min(view->m_focused + 1, count - 1));
            return TRUE;
        case GDK_KEY_Up:
        case GDK_KEY_KP_Up:
            view->FocusLink(std::max(view->m_focused - 1, 0));
            return TRUE;
        default:
            break;
    }
    if (!IsActivateKey(event->keyval)) return FALSE;
    view->ActivateLink(view->m_focused);
    return TRUE;
}

void CLitePageView::DrawFocus(cairo_t* cr) {
    if (!gtk_widget_has_visible_focus(m_area) || m_focused < 0) return;
    const GdkRectangle box = LinkBox(m_focused);
    if (box.width <= 0 || box.height <= 0) return;
    // A dotted frame, light on the skin's dark page as on a light one's
    // links: white dots with dark gaps.
    const double dash[] = {1.0};
    cairo_save(cr);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, box.x + 0.5, box.y + 0.5, box.width - 1, box.height - 1);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_stroke_preserve(cr);
    cairo_set_dash(cr, dash, 1, 0);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_stroke(cr);
    cairo_restore(cr);
}

gboolean CLitePageView::OnDraw(GtkWidget*, cairo_t* cr, gpointer self) {
    auto* view = static_cast<CLitePageView*>(self);
    GdkRectangle area{0, 0, view->m_width, view->m_height};
    gdk_cairo_get_clip_rectangle(cr, &area);
    if (view->m_page) {
        // A page that paints no background of its own is on white, as in a browser.
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_paint(cr);
        view->m_page->Draw(cr, area.x, area.y, area.width, area.height);
        view->DrawFocus(cr);
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
        GdkCursor* shape =
            cursor == "pointer" ? gdk_cursor_new_from_name(gdk_window_get_display(window), "pointer") : nullptr;
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
    // The link clicked has the keyboard from now on, as in a browser.
    const auto& links = view->Links();
    for (std::size_t i = 0; i < links.size() && !link.empty(); ++i) {
        const litehtml::position& box = links[i].box;
        if (event->x >= box.x && event->x < box.right() && event->y >= box.y && event->y < box.bottom())
            view->FocusLink(static_cast<int>(i));
    }
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
