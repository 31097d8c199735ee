#pragma once
// One page of the light view: its litehtml document laid out for the view's
// size, drawn with cairo, and what the mouse does on it (hover styles,
// links, title tooltips). No script, no forms, no scrolling.
#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <litehtml/litehtml.h>

#include <memory>
#include <string>
#include <vector>

#include "shells/gtk/LiteContainer.h"

namespace kivo::gtk {

class CLitePage {
public:
    // `html` is UTF-8; relative addresses resolve against `uri`.
    CLitePage(const std::string& html, const std::string& uri, int width, int height);
    CLitePage(const CLitePage&) = delete;
    CLitePage& operator=(const CLitePage&) = delete;

    // The page's text as far as the view lays it out: 64 KiB, 2000
    // elements, elements nested 256 deep; it is cut before what goes
    // beyond. Runs on any thread.
    static std::string Bounded(std::string html);

    const std::string& Title() const { return m_container.Caption(); }
    // Absolute addresses of the images the page names and has not been
    // given yet.
    std::vector<std::string> TakeWantedImages() { return m_container.TakeWantedImages(); }
    // The picture for `uri` (null: none); the page is laid out again.
    void SetImage(const std::string& uri, GdkPixbuf* image);

    void Draw(cairo_t* cr, int x, int y, int width, int height);
    // Each returns whether the page looks different now.
    bool MouseMove(int x, int y);
    bool MouseLeave();
    bool ButtonDown(int x, int y);
    // `link`: the address of a link the click completes, absolute; or empty.
    bool ButtonUp(int x, int y, std::string& link);
    // The title attribute of the innermost element under (x, y) that has one.
    std::string TooltipAt(int x, int y) const;
    // "pointer" over a link, as the page's style says; else empty or "auto".
    const std::string& Cursor() const { return m_container.Cursor(); }

    // A link as the keyboard and assistive technology reach it.
    struct Link {
        std::string name;        // its text, spaces collapsed, UTF-8
        std::string address;     // as a click on it reports it, UTF-8
        litehtml::position box;  // what it takes on the page (its boxes' union)
    };
    // The links that show, in reading (document) order.
    const std::vector<Link>& Links() const { return m_links; }
    // The text that shows, in reading order: one line per block, UTF-8.
    const std::string& Text() const { return m_text; }

private:
    void Layout();
    void Collect(const litehtml::element::ptr& el);

    int m_width;
    int m_height;
    CLiteContainer m_container;
    litehtml::document::ptr m_document;  // after the container: goes first
    std::vector<Link> m_links;
    std::string m_text;
};

}  // namespace kivo::gtk
