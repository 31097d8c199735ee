// Painters for every piece of the popup's skin. Each one fills the whole
// w x h area of the cairo context it is given, starting from (0, 0).
#pragma once

#include <cairo.h>

#include <string>

namespace skin {

// Colour that fills the popup behind the pieces; it also shows through the
// one-pixel seams the layout leaves between some of them.
inline constexpr unsigned kPanelColour = 0x1A1F22;
inline constexpr unsigned kTextColour = 0xE0302A;

// Header banner of one list: rounded upper-left corner, title, dotted foot.
void draw_banner(cairo_t* cr, int w, int h, const std::string& title);
void draw_left_edge(cairo_t* cr, int w, int h);
void draw_right_edge(cairo_t* cr, int w, int h);
// Horizontal frame strips, named by where they sit in the popup.
void draw_strip_under_page(cairo_t* cr, int w, int h);     // above the chooser row
void draw_strip_under_chooser(cairo_t* cr, int w, int h);  // upper half of the gap between the rows
void draw_strip_over_search(cairo_t* cr, int w, int h);    // lower half of the same gap
void draw_strip_over_bar(cairo_t* cr, int w, int h);       // between the search row and the bottom bar
void draw_caption(cairo_t* cr, int w, int h, const std::string& text);
void draw_filler(cairo_t* cr, int w, int h);
void draw_hide_button(cairo_t* cr, int w, int h);
void draw_search_button(cairo_t* cr, int w, int h);
void draw_bottom_bar(cairo_t* cr, int w, int h);
void draw_site_button(cairo_t* cr, int w, int h, const std::string& text);
// Application icon; transparent outside its rounded square.
void draw_icon(cairo_t* cr, int w, int h);
// Where the hide button and the site button sit on the pieces below them.
inline constexpr int kBannerWidth = 165, kBannerHeight = 24;
inline constexpr int kHideButtonX = 141, kHideButtonY = 4;
inline constexpr int kBarWidth = 153, kBarHeight = 20;
inline constexpr int kSiteButtonX = 88;  // in the bottom bar

}  // namespace skin
