#pragma once
// The light view's drawing and resources for litehtml: fonts and text with
// pango, everything else with cairo, images given as decoded pictures.
// Fonts are chosen as a browser chooses them: the first family of a
// font-family list that this system has, a generic family standing for the
// system's choice.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <litehtml/litehtml.h>
#include <pango/pangocairo.h>

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace kivo::gtk {

class CLiteContainer final : public litehtml::document_container {
public:
    CLiteContainer(int width, int height, std::string baseUri);
    ~CLiteContainer();
    CLiteContainer(const CLiteContainer&) = delete;
    CLiteContainer& operator=(const CLiteContainer&) = delete;

    // `address` made absolute against the page's address (or its <base>).
    std::string Resolve(const std::string& address) const;
    // Where a link with this href leads, in the page's text (UTF-8): what a
    // click on it reports.
    std::string LinkAddress(const char* href) const;

    // Images the page named that have not been given yet, absolute.
    std::vector<std::string> TakeWantedImages();
    // The picture of `uri`; null: there is none to show.
    void SetImage(const std::string& uri, GdkPixbuf* image);

    // A box whose single line ends in an ellipsis where its text overflows
    // (text-overflow: ellipsis); `textRight` is where its text ends, `words`
    // are the places of its in-flow texts (words and spaces) in line order.
    // Which word takes the ellipsis follows from the places alone, so that
    // a part of the page drawn again looks as it did drawn whole.
    struct EllipsisBox {
        litehtml::position content;
        int textRight = 0;
        std::vector<litehtml::position> words;
    };
    void SetEllipsisBoxes(std::vector<EllipsisBox> boxes) { m_ellipsis = std::move(boxes); }
    // A box that clips what overflows it: litehtml clips at its content,
    // browsers at its padding edge, which is what is drawn.
    struct ClipBox {
        litehtml::position content;
        litehtml::position padding;
    };
    void SetClipBoxes(std::vector<ClipBox> boxes) { m_clipBoxes = std::move(boxes); }

    const std::string& Caption() const { return m_caption; }
    const std::string& Cursor() const { return m_cursor; }
    // The address of the link clicked last, absolute; then empty.
    std::string TakeClickedLink();

    // litehtml::document_container
    litehtml::uint_ptr create_font(const char* faceName, int size, int weight, litehtml::font_style italic,
                                   unsigned int decoration, litehtml::font_metrics* fm) override;
    void delete_font(litehtml::uint_ptr hFont) override;
    int text_width(const char* text, litehtml::uint_ptr hFont) override;
    void draw_text(litehtml::uint_ptr hdc, const char* text, litehtml::uint_ptr hFont, litehtml::web_color color,
                   const litehtml::position& pos) override;
    int pt_to_px(int pt) const override;
    int get_default_font_size() const override;
    const char* get_default_font_name() const override;
    void draw_list_marker(litehtml::uint_ptr hdc, const litehtml::list_marker& marker) override;
    void load_image(const char* src, const char* baseurl, bool redraw_on_ready) override;
    void get_image_size(const char* src, const char* baseurl, litehtml::size& sz) override;
    void draw_background(litehtml::uint_ptr hdc, const litehtml::background_paint& bg) override;
    void draw_borders(litehtml::uint_ptr hdc, const litehtml::borders& borders, const litehtml::position& draw_pos,
                      bool root) override;
    void set_caption(const char* caption) override;
    void set_base_url(const char* base_url) override;
    void link(const std::shared_ptr<litehtml::document>& doc, const litehtml::element::ptr& el) override;
    void on_anchor_click(const char* url, const litehtml::element::ptr& el) override;
    void set_cursor(const char* cursor) override;
    void transform_text(litehtml::tstring& text, litehtml::text_transform tt) override;
    void import_css(litehtml::tstring& text, const litehtml::tstring& url, litehtml::tstring& baseurl) override;
    void set_clip(const litehtml::position& pos, const litehtml::border_radiuses& bdr_radius, bool valid_x,
                  bool valid_y) override;
    void del_clip() override;
    void get_client_rect(litehtml::position& client) const override;
    std::shared_ptr<litehtml::element> create_element(const char* tag_name, const litehtml::string_map& attributes,
                                                      const std::shared_ptr<litehtml::document>& doc) override;
    void get_media_features(litehtml::media_features& media) const override;
    void get_language(litehtml::tstring& language, litehtml::tstring& culture) const override;

private:
    struct Font {
        PangoFontDescription* description = nullptr;
        int ascent = 0;
        int descent = 0;
        int xHeight = 0;
        unsigned decoration = 0;
        std::map<std::string, int> widths;  // of the words measured
    };

    std::string Family(const char* faceName);
    PangoLayout* Layout(cairo_t* cr, const char* text, const Font& font);
    void ApplyClip(cairo_t* cr) const;
    std::string ImageUri(const char* src, const char* baseurl) const;
    GdkPixbuf* Image(const char* src, const char* baseurl) const;
    // Draws `text`, cut with an ellipsis where the line of its ellipsis box
    // overflows, and nothing of what lies beyond.
    void DrawLine(cairo_t* cr, const char* text, const Font& font, litehtml::web_color color,
                  const litehtml::position& pos);
    // The box whose in-flow word is drawn at `pos`, and that word's index.
    const EllipsisBox* EllipsisFor(const litehtml::position& pos, std::size_t& word) const;

    int m_width;
    int m_height;
    std::string m_pageUri;
    std::string m_baseUri;
    PangoContext* m_pango = nullptr;    // text as drawn
    PangoContext* m_metrics = nullptr;  // line metrics, unhinted
    std::set<std::string> m_families;   // lower case, of this system
    std::vector<litehtml::position> m_clips;
    std::map<std::string, GdkPixbuf*> m_images;  // null: failed
    std::vector<std::string> m_wanted;
    std::vector<EllipsisBox> m_ellipsis;
    std::vector<ClipBox> m_clipBoxes;
    std::string m_caption;
    std::string m_cursor;
    std::string m_clicked;
};

}  // namespace kivo::gtk
