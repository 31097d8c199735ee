#pragma once
// The light page view: pages laid out by litehtml and drawn with cairo and
// pango in a windowless widget. Pages and images are read and decoded on
// worker threads, so the view never waits: it keeps showing what it shows
// until the next page is ready. A page is read up to 1 MiB and each image up
// to 4 MiB; the rest is left unread.
#include <memory>
#include <string>

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

    std::shared_ptr<platform::IHttpClient> m_http;
    int m_width;
    int m_height;
    PageViewEvents m_events;
    GtkWidget* m_area = nullptr;
    std::unique_ptr<CLitePage> m_page;
    std::string m_uri;      // of the page shown or coming
    std::string m_charset;  // of the page shown
    std::string m_cursor;
    unsigned m_generation = 0;  // one more for every page asked for
    std::size_t m_imagesPending = 0;
    // Results of worker threads that arrive after the view has gone are dropped.
    std::shared_ptr<int> m_alive = std::make_shared<int>(0);
};

}  // namespace kivo::gtk
