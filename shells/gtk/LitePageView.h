#pragma once
// The light page view: pages laid out by litehtml and drawn with cairo and
// pango in a windowless widget. Pages and images are read and decoded on
// worker threads, so the view never waits: it keeps showing what it shows
// until the next page is ready. A page is read up to 1 MiB and each image up
// to 4 MiB; the rest is left unread.
//
// The keyboard: Tab into the view focuses its first link (Shift+Tab its
// last), Tab and Shift+Tab, Down and Up move from link to link (Tab leaves
// after the last), Enter or Space opens the focused link as a click does; a
// dotted frame shows it. Assistive technology sees the view as a document
// with the page's text, each link a child of it in reading order with its
// name and an "activate" action.
#include <atk/atk.h>

#include <memory>
#include <string>
#include <vector>

#include "shells/gtk/LitePage.h"
#include "shells/gtk/PageView.h"

namespace kivo::gtk {

class CLitePageView final : public IPageView {
public:
    CLitePageView(std::shared_ptr<platform::IHttpClient> http, int width, int height, PageViewEvents events);
    ~CLitePageView() override;
    CLitePageView(const CLitePageView&) = delete;
    CLitePageView& operator=(const CLitePageView&) = delete;

    GtkWidget* Widget() override { return m_area; }
    void Load(const std::string& uri) override;
    void LoadHtml(const std::string& html) override;

    // For the accessible objects (LitePageView.cpp): the page's links and
    // text, the link with the keyboard (-1: none), and what they do.
    const std::vector<CLitePage::Link>& Links() const;
    std::string Text() const;
    std::string Title() const;
    int FocusedLink() const { return m_focused; }
    void FocusLink(int index);
    void ActivateLink(int index);
    // The link's box in the coordinates of the view's widget.
    GdkRectangle LinkBox(int index) const;
    AtkObject* LinkAccessible(int index);

private:
    struct Prepared {
        bool ok = false;
        std::string html;     // UTF-8
        std::string charset;  // the page's own
        std::string error;
    };

    void Show(const std::string& uri, Prepared page);
    void FetchImages();
    void ImageArrived(unsigned generation, const std::string& uri, GdkPixbuf* image);
    void Redraw();

    static gboolean OnDraw(GtkWidget*, cairo_t* cr, gpointer self);
    static gboolean OnMotion(GtkWidget*, GdkEventMotion* event, gpointer self);
    static gboolean OnLeave(GtkWidget*, GdkEventCrossing*, gpointer self);
    static gboolean OnButtonPress(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean OnButtonRelease(GtkWidget*, GdkEventButton* event, gpointer self);
    static gboolean OnQueryTooltip(GtkWidget*, gint x, gint y, gboolean, GtkTooltip* tooltip, gpointer self);
    static gboolean OnFocus(GtkWidget*, GtkDirectionType direction, gpointer self);
    static gboolean OnFocusChange(GtkWidget*, GdkEventFocus* event, gpointer self);
    static gboolean OnKeyPress(GtkWidget*, GdkEventKey* event, gpointer self);
    void DrawFocus(cairo_t* cr);
    // The page shown changed: new link objects, the focus kept on the link
    // of the same address where there is one, else (the same page again,
    // `nSamePageFocus` the link it had) on the link in that place.
    void PageChanged(int nSamePageFocus = -1);
    void DropLinkAccessibles();

    std::shared_ptr<platform::IHttpClient> m_http;
    int m_width;
    int m_height;
    PageViewEvents m_events;
    GtkWidget* m_area = nullptr;
    std::unique_ptr<CLitePage> m_page;
    std::string m_uri;       // of the page shown or coming
    std::string m_shownUri;  // of the page shown
    std::string m_charset;   // of the page shown
    std::string m_cursor;
    unsigned m_generation = 0;  // one more for every page asked for
    int m_focused = -1;         // the link with the keyboard
    std::string m_focusedAddress;
    std::vector<AtkObject*> m_linkAccessibles;  // made when asked for
    std::size_t m_imagesPending = 0;
    // Results of worker threads that arrive after the view has gone are dropped.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

}  // namespace kivo::gtk
