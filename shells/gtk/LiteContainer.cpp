#include "shells/gtk/LiteContainer.h"

#include <gdk/gdk.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <utility>

namespace kivo::gtk {

namespace {

constexpr const char* kEllipsis = "\xE2\x80\xA6";  // U+2026

std::string Lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// The families this system's fonts have, lower case; read once.
const std::set<std::string>& SystemFamilies() {
    static const std::set<std::string> families = [] {
        std::set<std::string> names;
        PangoFontFamily** list = nullptr;
        int count = 0;
        pango_font_map_list_families(pango_cairo_font_map_get_default(), &list, &count);
        for (int i = 0; i < count; ++i) names.insert(Lower(pango_font_family_get_name(list[i])));
        g_free(list);
        return names;
    }();
    return families;
}

int Pixels(int pangoUnits) { return static_cast<int>(std::lround(static_cast<double>(pangoUnits) / PANGO_SCALE)); }

void SetColor(cairo_t* cr, litehtml::web_color color) {
    cairo_set_source_rgba(cr, color.red / 255.0, color.green / 255.0, color.blue / 255.0, color.alpha / 255.0);
}

void RoundedRectangle(cairo_t* cr, const litehtml::position& box, const litehtml::border_radiuses& radius) {
    const double x = box.x, y = box.y, w = box.width, h = box.height;
    const double tl = std::min({static_cast<double>(radius.top_left_x), w / 2, h / 2});
    const double tr = std::min({static_cast<double>(radius.top_right_x), w / 2, h / 2});
    const double br = std::min({static_cast<double>(radius.bottom_right_x), w / 2, h / 2});
    const double bl = std::min({static_cast<double>(radius.bottom_left_x), w / 2, h / 2});
    cairo_new_sub_path(cr);
    cairo_arc(cr, x + w - tr, y + tr, tr, -M_PI / 2, 0);
    cairo_arc(cr, x + w - br, y + h - br, br, 0, M_PI / 2);
    cairo_arc(cr, x + bl, y + h - bl, bl, M_PI / 2, M_PI);
    cairo_arc(cr, x + tl, y + tl, tl, M_PI, 3 * M_PI / 2);
    cairo_close_path(cr);
}

}  // namespace

CLiteContainer::CLiteContainer(int width, int height, std::string baseUri)
    : m_width(width), m_height(height), m_pageUri(baseUri), m_baseUri(std::move(baseUri)) {
    m_pango = pango_font_map_create_context(pango_cairo_font_map_get_default());
    m_metrics = pango_font_map_create_context(pango_cairo_font_map_get_default());
    cairo_font_options_t* options = cairo_font_options_create();
    if (GdkScreen* screen = gdk_screen_get_default())
        if (const cairo_font_options_t* screenOptions = gdk_screen_get_font_options(screen))
            cairo_font_options_merge(options, screenOptions);
    pango_cairo_context_set_font_options(m_pango, options);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    pango_cairo_context_set_font_options(m_metrics, options);
    cairo_font_options_destroy(options);
    for (PangoContext* context : {m_pango, m_metrics}) pango_cairo_context_set_resolution(context, 96.0);
}

CLiteContainer::~CLiteContainer() {
    for (auto& [uri, image] : m_images)
        if (image != nullptr) g_object_unref(image);
    g_object_unref(m_metrics);
    g_object_unref(m_pango);
}

std::string CLiteContainer::Resolve(const std::string& address) const {
    if (m_baseUri.empty()) return address;
    const auto flags = static_cast<GUriFlags>(G_URI_FLAGS_ENCODED | G_URI_FLAGS_PARSE_RELAXED);
    gchar* resolved = g_uri_resolve_relative(m_baseUri.c_str(), address.c_str(), flags, nullptr);
    if (resolved == nullptr) return address;
    std::string result = resolved;
    g_free(resolved);
    return result;
}

std::vector<std::string> CLiteContainer::TakeWantedImages() { return std::exchange(m_wanted, {}); }

void CLiteContainer::SetImage(const std::string& uri, GdkPixbuf* image) {
    GdkPixbuf*& slot = m_images[uri];
    if (slot != nullptr) g_object_unref(slot);
    slot = image != nullptr ? GDK_PIXBUF(g_object_ref(image)) : nullptr;
}

std::string CLiteContainer::TakeClickedLink() { return std::exchange(m_clicked, {}); }

// --- fonts and text ---------------------------------------------------------

std::string CLiteContainer::Family(const char* faceName) {
    static const std::map<std::string, std::string> kGeneric{{"serif", "Serif"},         {"sans-serif", "Sans"},
                                                             {"monospace", "Monospace"}, {"cursive", "Sans"},
                                                             {"fantasy", "Sans"},        {"system-ui", "Sans"}};
    std::string list = faceName != nullptr ? faceName : "";
    std::size_t start = 0;
    while (start <= list.size()) {
        std::size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        std::string name = list.substr(start, end - start);
        const auto isJunk = [](char c) { return std::isspace(static_cast<unsigned char>(c)) || c == '"' || c == '\''; };
        while (!name.empty() && isJunk(name.back())) name.pop_back();
        name.erase(0, static_cast<std::size_t>(std::find_if_not(name.begin(), name.end(), isJunk) - name.begin()));
        const std::string lower = Lower(name);
        if (const auto generic = kGeneric.find(lower); generic != kGeneric.end()) return generic->second;
        if (!name.empty() && SystemFamilies().count(lower) > 0) return name;
        start = end + 1;
    }
    return "Sans";
}

litehtml::uint_ptr CLiteContainer::create_font(const char* faceName, int size, int weight, litehtml::font_style italic,
                                               unsigned int decoration, litehtml::font_metrics* fm) {
    auto font = std::make_unique<Font>();
    font->description = pango_font_description_new();
    pango_font_description_set_family(font->description, Family(faceName).c_str());
    pango_font_description_set_absolute_size(font->description, std::max(1, size) * PANGO_SCALE);
    pango_font_description_set_weight(font->description, static_cast<PangoWeight>(std::clamp(weight, 100, 1000)));
    pango_font_description_set_style(font->description,
                                     italic == litehtml::fontStyleItalic ? PANGO_STYLE_ITALIC : PANGO_STYLE_NORMAL);
    font->decoration = decoration;
    int height = 0;
    // The line metrics as the font gives them, not rounded up to whole
    // pixels by hinting, as browsers take them.
    if (PangoFont* loaded = pango_context_load_font(m_metrics, font->description)) {
        PangoFontMetrics* metrics = pango_font_get_metrics(loaded, nullptr);
        font->ascent = Pixels(pango_font_metrics_get_ascent(metrics));
        font->descent = Pixels(pango_font_metrics_get_descent(metrics));
        height = Pixels(pango_font_metrics_get_height(metrics));
        pango_font_metrics_unref(metrics);
        g_object_unref(loaded);
    }
    PangoLayout* x = pango_layout_new(m_pango);
    pango_layout_set_font_description(x, font->description);
    pango_layout_set_text(x, "x", 1);
    PangoRectangle ink{};
    pango_layout_get_pixel_extents(x, &ink, nullptr);
    g_object_unref(x);
    font->xHeight = ink.height > 0 ? ink.height : font->ascent / 2;
    if (fm != nullptr) {
        fm->ascent = font->ascent;
        fm->descent = font->descent;
        fm->height = std::max(height, font->ascent + font->descent);
        fm->x_height = font->xHeight;
        fm->draw_spaces = decoration != litehtml::font_decoration_none;
    }
    return reinterpret_cast<litehtml::uint_ptr>(font.release());
}

void CLiteContainer::delete_font(litehtml::uint_ptr hFont) {
    std::unique_ptr<Font> font(reinterpret_cast<Font*>(hFont));
    if (font) pango_font_description_free(font->description);
}

PangoLayout* CLiteContainer::Layout(cairo_t* cr, const char* text, const Font& font) {
    PangoLayout* layout = pango_layout_new(m_pango);
    if (cr != nullptr) pango_cairo_update_layout(cr, layout);
    pango_layout_set_font_description(layout, font.description);
    pango_layout_set_text(layout, text, -1);
    return layout;
}

int CLiteContainer::text_width(const char* text, litehtml::uint_ptr hFont) {
    auto* font = reinterpret_cast<Font*>(hFont);
    if (font == nullptr || text == nullptr) return 0;
    // Words repeat (every Chinese character is one): measured once each.
    const auto known = font->widths.find(text);
    if (known != font->widths.end()) return known->second;
    PangoLayout* layout = Layout(nullptr, text, *font);
    int width = 0;
    pango_layout_get_pixel_size(layout, &width, nullptr);
    g_object_unref(layout);
    font->widths.emplace(text, width);
    return width;
}

const CLiteContainer::EllipsisBox* CLiteContainer::EllipsisFor(const litehtml::position& pos, std::size_t& word) const {
    // The innermost box: boxes come parents first.
    for (std::size_t i = m_ellipsis.size(); i-- > 0;) {
        const std::vector<litehtml::position>& words = m_ellipsis[i].words;
        for (std::size_t w = 0; w < words.size(); ++w)
            if (words[w].x == pos.x && words[w].y == pos.y && words[w].width == pos.width) {
                word = w;
                return &m_ellipsis[i];
            }
    }
    return nullptr;
}

void CLiteContainer::DrawLine(cairo_t* cr, const char* text, const Font& font, litehtml::web_color color,
                              const litehtml::position& pos) {
    std::string shown = text;
    litehtml::position at = pos;
    std::size_t word = 0;
    if (const EllipsisBox* box = EllipsisFor(pos, word); box != nullptr && box->textRight > box->content.right()) {
        PangoLayout* dots = Layout(cr, kEllipsis, font);
        int dotsWidth = 0;
        pango_layout_get_pixel_size(dots, &dotsWidth, nullptr);
        g_object_unref(dots);
        const int cut = box->content.right() - dotsWidth;
        // The first word that passes the cut takes the ellipsis; the words
        // after it are not drawn, the words before it whole.
        std::size_t host = 0;
        while (host < box->words.size() && box->words[host].right() <= cut) ++host;
        if (word > host) return;
        if (word == host) {
            PangoLayout* whole = Layout(cr, text, font);
            int index = 0, trailing = 0;
            pango_layout_xy_to_index(whole, std::max(0, cut - pos.x) * PANGO_SCALE, 0, &index, &trailing);
            g_object_unref(whole);
            if (cut <= pos.x) index = 0;
            shown = std::string(text, static_cast<std::size_t>(index)) + kEllipsis;
            // Past the cut already (a space, say): the ellipsis at the cut.
            at.x = std::min(pos.x, cut);
        }
    }
    PangoLayout* layout = Layout(cr, shown.c_str(), font);
    const int baseline = pos.y + pos.height - font.descent;
    cairo_move_to(cr, at.x, baseline - Pixels(pango_layout_get_baseline(layout)));
    SetColor(cr, color);
    pango_cairo_show_layout(cr, layout);
    int width = 0;
    pango_layout_get_pixel_size(layout, &width, nullptr);
    g_object_unref(layout);

    const auto line = [&](int y) {
        cairo_rectangle(cr, at.x, y, width, 1);
        cairo_fill(cr);
    };
    if (font.decoration & litehtml::font_decoration_underline) line(baseline + 1);
    if (font.decoration & litehtml::font_decoration_linethrough) line(baseline - font.xHeight / 2);
    if (font.decoration & litehtml::font_decoration_overline) line(pos.y);
}

void CLiteContainer::draw_text(litehtml::uint_ptr hdc, const char* text, litehtml::uint_ptr hFont,
                               litehtml::web_color color, const litehtml::position& pos) {
    auto* cr = reinterpret_cast<cairo_t*>(hdc);
    const auto* font = reinterpret_cast<const Font*>(hFont);
    if (cr == nullptr || font == nullptr || text == nullptr) return;
    cairo_save(cr);
    ApplyClip(cr);
    DrawLine(cr, text, *font, color, pos);
    cairo_restore(cr);
}

int CLiteContainer::pt_to_px(int pt) const { return pt * 96 / 72; }
int CLiteContainer::get_default_font_size() const { return 16; }
const char* CLiteContainer::get_default_font_name() const { return "sans-serif"; }

void CLiteContainer::transform_text(litehtml::tstring& text, litehtml::text_transform tt) {
    gchar* changed = nullptr;
    if (tt == litehtml::text_transform_uppercase)
        changed = g_utf8_strup(text.c_str(), -1);
    else if (tt == litehtml::text_transform_lowercase)
        changed = g_utf8_strdown(text.c_str(), -1);
    else if (tt == litehtml::text_transform_capitalize && !text.empty()) {
        const gchar* second = g_utf8_next_char(text.c_str());
        gchar* first = g_utf8_strup(text.c_str(), second - text.c_str());
        text = std::string(first) + second;
        g_free(first);
    }
    if (changed != nullptr) {
        text = changed;
        g_free(changed);
    }
}

// --- boxes ----------------------------------------------------------------

void CLiteContainer::ApplyClip(cairo_t* cr) const {
    for (const litehtml::position& clip : m_clips) {
        cairo_rectangle(cr, clip.x, clip.y, clip.width, clip.height);
        cairo_clip(cr);
    }
}

void CLiteContainer::set_clip(const litehtml::position& pos, const litehtml::border_radiuses&, bool valid_x,
                              bool valid_y) {
    litehtml::position clip = pos;
    for (const ClipBox& box : m_clipBoxes)
        if (box.content.x == pos.x && box.content.y == pos.y && box.content.width == pos.width &&
            box.content.height == pos.height)
            clip = box.padding;
    constexpr int kFar = 1 << 24;
    if (!valid_x) {
        clip.x = -kFar;
        clip.width = 2 * kFar;
    }
    if (!valid_y) {
        clip.y = -kFar;
        clip.height = 2 * kFar;
    }
    m_clips.push_back(clip);
}

void CLiteContainer::del_clip() {
    if (!m_clips.empty()) m_clips.pop_back();
}

void CLiteContainer::draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) {
    auto* cr = reinterpret_cast<cairo_t*>(hdc);
    if (cr == nullptr) return;
    cairo_save(cr);
    ApplyClip(cr);
    RoundedRectangle(cr, bg.clip_box, bg.border_radius);
    cairo_clip(cr);
    if (bg.color.alpha > 0) {
        SetColor(cr, bg.color);
        cairo_paint(cr);
    }
    GdkPixbuf* image = bg.image.empty() ? nullptr : Image(bg.image.c_str(), bg.baseurl.c_str());
    const int width = image != nullptr ? gdk_pixbuf_get_width(image) : 0;
    const int height = image != nullptr ? gdk_pixbuf_get_height(image) : 0;
    if (image != nullptr && width > 0 && height > 0 && bg.image_size.width > 0 && bg.image_size.height > 0) {
        const double sx = static_cast<double>(bg.image_size.width) / width;
        const double sy = static_cast<double>(bg.image_size.height) / height;
        const litehtml::position& clip = bg.clip_box;
        double x = clip.x, y = clip.y, w = clip.width, h = clip.height;
        const bool repeatX =
            bg.repeat == litehtml::background_repeat_repeat || bg.repeat == litehtml::background_repeat_repeat_x;
        const bool repeatY =
            bg.repeat == litehtml::background_repeat_repeat || bg.repeat == litehtml::background_repeat_repeat_y;
        if (!repeatX) {
            x = bg.position_x;
            w = bg.image_size.width;
        }
        if (!repeatY) {
            y = bg.position_y;
            h = bg.image_size.height;
        }
        cairo_translate(cr, bg.position_x, bg.position_y);
        cairo_scale(cr, sx, sy);
        gdk_cairo_set_source_pixbuf(cr, image, 0, 0);
        cairo_pattern_set_extend(cairo_get_source(cr), CAIRO_EXTEND_REPEAT);
        cairo_identity_matrix(cr);
        cairo_rectangle(cr, x, y, w, h);
        cairo_fill(cr);
    }
    cairo_restore(cr);
}

void CLiteContainer::draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& borders,
                                  const litehtml::position& box, bool) {
    auto* cr = reinterpret_cast<cairo_t*>(hdc);
    if (cr == nullptr) return;
    cairo_save(cr);
    ApplyClip(cr);
    // One side: a band along the box's edge, dotted and dashed ones in
    // squares or dashes of its width.
    const auto side = [&](const litehtml::border& border, double x, double y, double length, bool horizontal) {
        if (border.width <= 0 || border.style == litehtml::border_style_none ||
            border.style == litehtml::border_style_hidden || length <= 0)
            return;
        SetColor(cr, border.color);
        const double w = border.width;
        if (border.style == litehtml::border_style_dotted || border.style == litehtml::border_style_dashed) {
            const double dash = border.style == litehtml::border_style_dotted ? w : 3 * w;
            for (double at = 0; at < length; at += 2 * dash) {
                const double piece = std::min(dash, length - at);
                if (horizontal)
                    cairo_rectangle(cr, x + at, y, piece, w);
                else
                    cairo_rectangle(cr, x, y + at, w, piece);
            }
        } else if (horizontal) {
            cairo_rectangle(cr, x, y, length, w);
        } else {
            cairo_rectangle(cr, x, y, w, length);
        }
        cairo_fill(cr);
    };
    side(borders.top, box.x, box.y, box.width, true);
    side(borders.bottom, box.x, box.bottom() - borders.bottom.width, box.width, true);
    side(borders.left, box.x, box.y, box.height, false);
    side(borders.right, box.right() - borders.right.width, box.y, box.height, false);
    cairo_restore(cr);
}

void CLiteContainer::draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) {
    auto* cr = reinterpret_cast<cairo_t*>(hdc);
    if (cr == nullptr) return;
    cairo_save(cr);
    ApplyClip(cr);
    const litehtml::position& box = marker.pos;
    GdkPixbuf* image = marker.image.empty() ? nullptr : Image(marker.image.c_str(), marker.baseurl);
    if (image != nullptr) {
        gdk_cairo_set_source_pixbuf(cr, image, box.x, box.y);
        cairo_paint(cr);
    } else {
        SetColor(cr, marker.color);
        const double size = std::max(1, std::min(box.width, box.height));
        switch (marker.marker_type) {
            case litehtml::list_style_type_none:
                break;
            case litehtml::list_style_type_square:
                cairo_rectangle(cr, box.x, box.y, size, size);
                cairo_fill(cr);
                break;
            case litehtml::list_style_type_circle:
                cairo_arc(cr, box.x + size / 2, box.y + size / 2, size / 2 - 0.5, 0, 2 * M_PI);
                cairo_set_line_width(cr, 1);
                cairo_stroke(cr);
                break;
            default:
                cairo_arc(cr, box.x + size / 2, box.y + size / 2, size / 2, 0, 2 * M_PI);
                cairo_fill(cr);
                break;
        }
    }
    cairo_restore(cr);
}

// --- images -----------------------------------------------------------------

std::string CLiteContainer::ImageUri(const char* src, const char* baseurl) const {
    std::string uri = Resolve(src != nullptr ? src : "");
    if (baseurl == nullptr || baseurl[0] == '\0') return uri;
    const auto flags = static_cast<GUriFlags>(G_URI_FLAGS_ENCODED | G_URI_FLAGS_PARSE_RELAXED);
    if (gchar* resolved = g_uri_resolve_relative(Resolve(baseurl).c_str(), src, flags, nullptr)) {
        uri = resolved;
        g_free(resolved);
    }
    return uri;
}

GdkPixbuf* CLiteContainer::Image(const char* src, const char* baseurl) const {
    const auto found = m_images.find(ImageUri(src, baseurl));
    return found != m_images.end() ? found->second : nullptr;
}

void CLiteContainer::load_image(const char* src, const char* baseurl, bool) {
    if (src == nullptr || src[0] == '\0') return;
    const std::string uri = ImageUri(src, baseurl);
    if (m_images.count(uri) > 0 || std::find(m_wanted.begin(), m_wanted.end(), uri) != m_wanted.end()) return;
    m_wanted.push_back(uri);
}

void CLiteContainer::get_image_size(const char* src, const char* baseurl, litehtml::size& sz) {
    GdkPixbuf* image = Image(src, baseurl);
    sz.width = image != nullptr ? gdk_pixbuf_get_width(image) : 0;
    sz.height = image != nullptr ? gdk_pixbuf_get_height(image) : 0;
}

// --- the page around the drawing --------------------------------------------

void CLiteContainer::set_caption(const char* caption) { m_caption = caption != nullptr ? caption : ""; }

void CLiteContainer::set_base_url(const char* base_url) {
    if (base_url != nullptr && base_url[0] != '\0') {
        m_baseUri = m_pageUri;
        m_baseUri = Resolve(base_url);
    }
}

void CLiteContainer::link(const std::shared_ptr<litehtml::document>&, const litehtml::element::ptr&) {
    // Style sheets of other files are not read: the pages carry their own.
}

void CLiteContainer::on_anchor_click(const char* url, const litehtml::element::ptr&) {
    if (url == nullptr || url[0] == '\0') return;
    m_clicked = LinkAddress(url);
}

std::string CLiteContainer::LinkAddress(const char* href) const {
    // A link's address keeps the bytes the page wrote: an absolute one as
    // it is, a relative one resolved with what resolving escaped restored.
    if (g_uri_peek_scheme(href) != nullptr) return href;
    const std::string resolved = Resolve(href);
    std::string address;
    for (std::size_t i = 0; i < resolved.size(); ++i) {
        const int high = i + 2 < resolved.size() ? g_ascii_xdigit_value(resolved[i + 1]) : -1;
        const int low = high >= 8 ? g_ascii_xdigit_value(resolved[i + 2]) : -1;
        if (resolved[i] == '%' && low >= 0) {
            address.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else {
            address.push_back(resolved[i]);
        }
    }
    return address;
}

void CLiteContainer::set_cursor(const char* cursor) { m_cursor = cursor != nullptr ? cursor : ""; }

void CLiteContainer::import_css(litehtml::tstring& text, const litehtml::tstring&, litehtml::tstring&) {
    text.clear();  // @import reads nothing either
}

void CLiteContainer::get_client_rect(litehtml::position& client) const { client = {0, 0, m_width, m_height}; }

std::shared_ptr<litehtml::element> CLiteContainer::create_element(const char*, const litehtml::string_map&,
                                                                  const std::shared_ptr<litehtml::document>&) {
    return nullptr;
}

void CLiteContainer::get_media_features(litehtml::media_features& media) const {
    media.type = litehtml::media_type_screen;
    media.width = m_width;
    media.height = m_height;
    GdkRectangle screen{0, 0, m_width, m_height};
    if (GdkDisplay* display = gdk_display_get_default())
        if (GdkMonitor* monitor = gdk_display_get_primary_monitor(display)) gdk_monitor_get_geometry(monitor, &screen);
    media.device_width = screen.width;
    media.device_height = screen.height;
    media.color = 8;
    media.color_index = 0;
    media.monochrome = 0;
    media.resolution = 96;
}

void CLiteContainer::get_language(litehtml::tstring& language, litehtml::tstring& culture) const {
    language = "zh";
    culture = "zh-CN";
}

}  // namespace kivo::gtk
