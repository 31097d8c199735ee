#include "skin_draw.h"

#include <pango/pangocairo.h>

#include <cmath>
#include <initializer_list>

namespace skin {
namespace {

// Frame palette, darkest to lightest. The panel colour is the darkest frame tone,
// so strips that fade down to it run on into the rows of controls.
constexpr unsigned kOutline = 0x0B0E10;    // one-pixel border around the popup
constexpr unsigned kFrameDark = 0x1A1F22;  // == kPanelColour
constexpr unsigned kFrameMid = 0x242B2F;
constexpr unsigned kFrame = 0x2F3A40;
constexpr unsigned kFrameLight = 0x3A474E;
constexpr unsigned kHighlight = 0x55656E;  // one-pixel light line inside the border
constexpr unsigned kGroove = 0x101416;     // shadow line of a strip
constexpr unsigned kBarTop = 0x3B4A52;     // banner and bottom bar gradient
constexpr unsigned kBarBottom = 0x222A2F;
constexpr unsigned kDots = 0x7A858B;
constexpr unsigned kButtonBorder = 0x5E7079;
constexpr unsigned kGlyph = 0xD8DEE1;  // light glyphs on buttons
constexpr unsigned kTextShadow = 0x000000;
constexpr unsigned kFlameOuter1 = 0xFF7A1E, kFlameOuter2 = 0xD81E16;
constexpr unsigned kFlameInner1 = 0xFFE07A, kFlameInner2 = 0xFF9A22;

constexpr double kPi = 3.14159265358979323846;
const char* const kFontFamily = "WenQuanYi Zen Hei";

void set_colour(cairo_t* cr, unsigned hex, double alpha = 1.0) {
    cairo_set_source_rgba(cr, ((hex >> 16) & 0xFF) / 255.0, ((hex >> 8) & 0xFF) / 255.0, (hex & 0xFF) / 255.0, alpha);
}

void add_stop(cairo_pattern_t* p, double at, unsigned hex) {
    cairo_pattern_add_color_stop_rgb(p, at, ((hex >> 16) & 0xFF) / 255.0, ((hex >> 8) & 0xFF) / 255.0,
                                     (hex & 0xFF) / 255.0);
}

// Fills the current path (or the rectangle y0..y1 if asked) with a vertical gradient.
void fill_vertical(cairo_t* cr, double y0, double y1, unsigned top, unsigned bottom) {
    cairo_pattern_t* p = cairo_pattern_create_linear(0, y0, 0, y1);
    add_stop(p, 0, top);
    add_stop(p, 1, bottom);
    cairo_set_source(cr, p);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
}

void fill_rect(cairo_t* cr, double x, double y, double w, double h, unsigned hex) {
    cairo_rectangle(cr, x, y, w, h);
    set_colour(cr, hex);
    cairo_fill(cr);
}

// Paints whole rows (top first) or whole columns (left first) in flat colours.
void paint_rows(cairo_t* cr, int w, std::initializer_list<unsigned> rows) {
    int y = 0;
    for (unsigned c : rows) fill_rect(cr, 0, y++, w, 1, c);
}

void paint_columns(cairo_t* cr, int h, std::initializer_list<unsigned> columns) {
    int x = 0;
    for (unsigned c : columns) fill_rect(cr, x++, 0, 1, h, c);
}

void rounded_rect(cairo_t* cr, double x, double y, double w, double h, double r) {
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - r, y + r, r, -kPi / 2, 0);
    cairo_arc(cr, x + w - r, y + h - r, r, 0, kPi / 2);
    cairo_arc(cr, x + r, y + h - r, r, kPi / 2, kPi);
    cairo_arc(cr, x + r, y + r, r, kPi, 3 * kPi / 2);
    cairo_close_path(cr);
}

// Text is laid out with fixed options so the output does not depend on the desktop's settings.
struct TextStyle {
    double size_px = 12;
    bool bold = true;
    bool italic = false;
    unsigned colour = kTextColour;
    bool shadow = true;
};

PangoLayout* make_layout(cairo_t* cr, const std::string& text, const TextStyle& style) {
    PangoLayout* layout = pango_cairo_create_layout(cr);
    PangoContext* context = pango_layout_get_context(layout);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_subpixel_order(options, CAIRO_SUBPIXEL_ORDER_DEFAULT);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_SLIGHT);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(context, options);
    cairo_font_options_destroy(options);
    pango_cairo_context_set_resolution(context, 96);
    pango_layout_context_changed(layout);

    PangoFontDescription* font = pango_font_description_new();
    pango_font_description_set_family(font, kFontFamily);
    pango_font_description_set_absolute_size(font, style.size_px * PANGO_SCALE);
    pango_font_description_set_weight(font, style.bold ? PANGO_WEIGHT_BOLD : PANGO_WEIGHT_NORMAL);
    pango_font_description_set_style(font, style.italic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    pango_layout_set_font_description(layout, font);
    pango_font_description_free(font);
    pango_layout_set_text(layout, text.c_str(), -1);
    return layout;
}

enum class Align { Left, Centre };

// Draws one line of text: its left end (or centre) at x, with a full-height
// CJK character of the same style centred on row mid_y, so that every text
// of one style shares a baseline. The layout is placed on whole pixels.
void draw_text(cairo_t* cr, const std::string& text, double x, double mid_y, const TextStyle& style,
               Align align = Align::Left) {
    PangoLayout* reference = make_layout(cr, "国", style);
    PangoRectangle ref_ink;
    pango_layout_get_pixel_extents(reference, &ref_ink, nullptr);
    g_object_unref(reference);
    PangoLayout* layout = make_layout(cr, text, style);
    PangoRectangle ink;
    pango_layout_get_pixel_extents(layout, &ink, nullptr);
    double left = align == Align::Left ? x - ink.x : x - ink.x - ink.width / 2.0;
    double top = mid_y - ref_ink.y - ref_ink.height / 2.0;
    left = std::round(left);
    top = std::round(top);
    if (style.shadow) {
        set_colour(cr, kTextShadow, 0.55);
        cairo_move_to(cr, left + 1, top + 1);
        pango_cairo_show_layout(cr, layout);
    }
    set_colour(cr, style.colour);
    cairo_move_to(cr, left, top);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
}

// Outline of the banner: the upper-left corner cut round, the other sides square.
void banner_path(cairo_t* cr, int w, int h, double inset, double radius) {
    cairo_new_path(cr);
    cairo_move_to(cr, inset, h);
    cairo_arc(cr, inset + radius, inset + radius, radius, kPi, 3 * kPi / 2);
    cairo_line_to(cr, w - inset, inset);
    cairo_line_to(cr, w - inset, h);
    cairo_close_path(cr);
}

void draw_banner_background(cairo_t* cr, int w, int h) {
    const double radius = 8;
    set_colour(cr, 0x000000);
    cairo_paint(cr);
    banner_path(cr, w, h, 0, radius);
    set_colour(cr, kOutline);
    cairo_fill(cr);
    banner_path(cr, w, h, 1, radius - 1);
    set_colour(cr, kHighlight);
    cairo_fill(cr);
    banner_path(cr, w, h, 2, radius - 2);
    fill_vertical(cr, 2, h - 1, kBarTop, kBarBottom);
    // Dotted foot: one-pixel dots on every other pixel, inside the side borders.
    fill_rect(cr, 2, h - 1, w - 4, 1, kBarBottom);
    for (int x = 2; x < w - 2; x += 2) fill_rect(cr, x, h - 1, 1, 1, kDots);
}

void draw_bar_background(cairo_t* cr, int w, int h) {
    cairo_rectangle(cr, 0, 0, w, h);
    fill_vertical(cr, 1, h - 2, kBarTop, kBarBottom);
    fill_rect(cr, 0, 0, w, 1, kHighlight);
    fill_rect(cr, 0, h - 2, w, 1, kGroove);
    fill_rect(cr, 0, h - 1, w, 1, kOutline);
}

// Paints `painter`'s output for a larger piece, shifted so that (x, y) of
// that piece lands at (0, 0): a button then matches what lies under it.
template <typename Painter>
void paint_crop(cairo_t* cr, int piece_w, int piece_h, int x, int y, Painter painter) {
    cairo_surface_t* under = cairo_image_surface_create(CAIRO_FORMAT_RGB24, piece_w, piece_h);
    cairo_t* ucr = cairo_create(under);
    painter(ucr, piece_w, piece_h);
    cairo_destroy(ucr);
    cairo_set_source_surface(cr, under, -x, -y);
    cairo_paint(cr);
    cairo_surface_destroy(under);
}

// Flame in a 48 x 48 box: an outer red-orange tongue and a yellow core.
void flame_outer_path(cairo_t* cr) {
    cairo_new_path(cr);
    cairo_move_to(cr, 24, 45);
    cairo_curve_to(cr, 13, 45, 8.5, 36, 11.5, 28);
    cairo_curve_to(cr, 13.5, 22.5, 18.5, 18.5, 20.5, 4.5);
    cairo_curve_to(cr, 27.5, 11, 37.5, 19.5, 37.5, 31);
    cairo_curve_to(cr, 37.5, 39.5, 31.5, 45, 24, 45);
    cairo_close_path(cr);
}

void flame_inner_path(cairo_t* cr) {
    cairo_new_path(cr);
    cairo_move_to(cr, 24, 43);
    cairo_curve_to(cr, 19, 43, 16, 39, 17.5, 34);
    cairo_curve_to(cr, 18.5, 30.5, 21.5, 28, 23, 20.5);
    cairo_curve_to(cr, 26.5, 25.5, 31, 29.5, 31, 35);
    cairo_curve_to(cr, 31, 40, 28, 43, 24, 43);
    cairo_close_path(cr);
}

void draw_flame(cairo_t* cr) {
    flame_outer_path(cr);
    fill_vertical(cr, 5, 45, kFlameOuter1, kFlameOuter2);
    flame_inner_path(cr);
    fill_vertical(cr, 21, 43, kFlameInner1, kFlameInner2);
}

}  // namespace

void draw_banner(cairo_t* cr, int w, int h, const std::string& title) {
    draw_banner_background(cr, w, h);
    TextStyle style;
    style.size_px = 13;
    draw_text(cr, title, 8, 12, style);
}

void draw_left_edge(cairo_t* cr, int w, int h) {
    paint_columns(cr, h, {kOutline, kHighlight, kFrameLight, kFrame, kFrameMid, kFrameDark});
    fill_rect(cr, 0, h - 1, w, 1, kOutline);
}

void draw_right_edge(cairo_t* cr, int w, int h) {
    paint_columns(cr, h, {kFrameDark, kFrameMid, kFrame, kFrameLight, kHighlight, kOutline});
    fill_rect(cr, 0, h - 1, w, 1, kOutline);
}

void draw_strip_under_page(cairo_t* cr, int w, int) { paint_rows(cr, w, {kGroove, kHighlight, kFrameMid}); }

void draw_strip_under_chooser(cairo_t* cr, int w, int) {
    paint_rows(cr, w, {kFrameDark, kGroove, kHighlight, kFrame, kFrameMid});
}

void draw_strip_over_search(cairo_t* cr, int w, int) {
    paint_rows(cr, w, {0x1F2528, kFrameDark, kFrameDark, kFrameDark, kFrameDark});
}

void draw_strip_over_bar(cairo_t* cr, int w, int) { paint_rows(cr, w, {kFrameDark, kFrameDark, kFrameMid, kGroove}); }

void draw_caption(cairo_t* cr, int, int, const std::string& text) {
    set_colour(cr, kPanelColour);
    cairo_paint(cr);
    TextStyle style;
    style.size_px = 12;
    draw_text(cr, text, 3, 9, style);
}

void draw_filler(cairo_t* cr, int, int) {
    set_colour(cr, kPanelColour);
    cairo_paint(cr);
}

void draw_hide_button(cairo_t* cr, int w, int h) {
    paint_crop(cr, kBannerWidth, kBannerHeight, kHideButtonX, kHideButtonY,
               [](cairo_t* c, int bw, int bh) { draw_banner_background(c, bw, bh); });
    rounded_rect(cr, 0.5, 0.5, w - 1, h - 1, 3);
    cairo_pattern_t* p = cairo_pattern_create_linear(0, 0, 0, h);
    add_stop(p, 0, 0x20272B);
    add_stop(p, 1, 0x0F1315);
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
    set_colour(cr, kButtonBorder);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    fill_rect(cr, 4, 8, w - 8, 2, kGlyph);
}

void draw_search_button(cairo_t* cr, int w, int h) {
    set_colour(cr, kPanelColour);
    cairo_paint(cr);
    rounded_rect(cr, 0.5, 0.5, w - 1, h - 1, 3);
    cairo_pattern_t* p = cairo_pattern_create_linear(0, 0, 0, h);
    add_stop(p, 0, kBarTop);
    add_stop(p, 1, kBarBottom);
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
    set_colour(cr, kButtonBorder);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    // Magnifying glass: a ring with a short thick handle to the lower right.
    set_colour(cr, kGlyph);
    cairo_set_line_width(cr, 1.5);
    cairo_new_path(cr);
    cairo_arc(cr, 7.25, 6.75, 3.5, 0, 2 * kPi);
    cairo_stroke(cr);
    cairo_set_line_width(cr, 2.4);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_move_to(cr, 10.0, 9.5);
    cairo_line_to(cr, 12.8, 12.3);
    cairo_stroke(cr);
}

void draw_bottom_bar(cairo_t* cr, int w, int h) {
    draw_bar_background(cr, w, h);
    // Logo: a small flame followed by the product name.
    cairo_save(cr);
    cairo_translate(cr, 4, 2.5);
    cairo_scale(cr, 15.0 / 48, 15.0 / 48);
    draw_flame(cr);
    cairo_restore(cr);
    TextStyle style;
    style.size_px = 14;
    style.italic = true;
    draw_text(cr, "Kivo", 19, 9.5, style);
}

void draw_site_button(cairo_t* cr, int w, int h, const std::string& text) {
    paint_crop(cr, kBarWidth, kBarHeight, kSiteButtonX, 0,
               [](cairo_t* c, int bw, int bh) { draw_bar_background(c, bw, bh); });
    rounded_rect(cr, 0.5, 2.5, w - 2, h - 5, 3);
    cairo_pattern_t* p = cairo_pattern_create_linear(0, 2, 0, h - 2);
    add_stop(p, 0, 0x46575F);
    add_stop(p, 1, 0x283137);
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
    set_colour(cr, kButtonBorder);
    cairo_set_line_width(cr, 1);
    cairo_stroke(cr);
    TextStyle style;
    style.size_px = 11;
    draw_text(cr, text, (w - 1) / 2.0, 9.5, style, Align::Centre);
}

void draw_icon(cairo_t* cr, int w, int h) {
    cairo_set_operator(cr, CAIRO_OPERATOR_CLEAR);
    cairo_paint(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    cairo_scale(cr, w / 48.0, h / 48.0);
    rounded_rect(cr, 1, 1, 46, 46, 9);
    cairo_pattern_t* p = cairo_pattern_create_linear(0, 1, 0, 47);
    add_stop(p, 0, kBarTop);
    add_stop(p, 1, 0x13171A);
    cairo_set_source(cr, p);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
    rounded_rect(cr, 2, 2, 44, 44, 8);
    set_colour(cr, kHighlight, 0.8);
    cairo_set_line_width(cr, 48.0 / w < 1.5 ? 1.5 : 48.0 / w);
    cairo_stroke(cr);
    draw_flame(cr);
}

}  // namespace skin
