#include "shells/gtk/LitePage.h"

#include <gumbo.h>
#include <litehtml/el_text.h>

#include <algorithm>
#include <cctype>
#include <set>
#include <cstring>
#include <utility>

namespace kivo::gtk {

namespace {

constexpr unsigned kMaxNesting = 256;
constexpr std::size_t kMaxBytes = 64 << 10;
constexpr std::size_t kMaxElements = 2000;

bool IsTagStart(const std::string& html, std::size_t at) {
    return at + 1 < html.size() && std::isalpha(static_cast<unsigned char>(html[at + 1]));
}

// Where a quick count of the tags passes the element limit or a rough
// nesting limit: cheap, so that the exact parse never meets thousands of
// levels, which it takes quadratic time for. Elements that close
// themselves or are closed by the next of their kind do not nest.
std::size_t RoughEnd(const std::string& html) {
    static const std::set<std::string> kFlat{"area", "base", "br",    "col",    "embed", "hr",  "img", "input",
                                             "link", "meta", "param", "source", "track", "wbr", "li",  "p",
                                             "td",   "th",   "tr",    "option", "dt",    "dd"};
    std::size_t elements = 0, depth = 0;
    for (std::size_t at = html.find('<'); at != std::string::npos; at = html.find('<', at + 1)) {
        if (html.compare(at, 4, "<!--") == 0) {
            at = html.find("-->", at);
            if (at == std::string::npos) break;
        } else if (html.compare(at, 2, "</") == 0) {
            if (depth > 0) --depth;
        } else if (IsTagStart(html, at)) {
            if (++elements > kMaxElements) return at;
            std::size_t end = at + 1;
            while (end < html.size() && std::isalnum(static_cast<unsigned char>(html[end]))) ++end;
            std::string name = html.substr(at + 1, end - at - 1);
            for (char& c : name) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
            const std::size_t close = html.find('>', end);
            const bool selfClosed = close != std::string::npos && close > 0 && html[close - 1] == '/';
            if (!selfClosed && kFlat.count(name) == 0 && ++depth > 4 * kMaxNesting) return at;
        }
    }
    return html.size();
}

// The defaults every page starts from, as a browser's own style sheet.
constexpr const char kMasterCss[] = R"css(
html, address, blockquote, body, center, dd, div, dl, dt, fieldset, form, frameset, h1, h2, h3, h4, h5, h6,
hr, noframes, ol, p, pre, ul, menu, dir, article, aside, footer, header, main, nav, section, figure, figcaption
    { display: block; }
head, style, script, title, meta, link, base, template, noscript, param, area, map, input, select, textarea,
button, object, embed, iframe, frame, applet { display: none; }
body { margin: 8px; }
li { display: list-item; }
img { display: inline-block; }
p, blockquote, dl, pre, ol, ul, menu, dir, fieldset, figure { margin-top: 1em; margin-bottom: 1em; }
ol, ul, menu, dir { padding-left: 40px; }
ul, menu, dir { list-style-type: disc; }
ol { list-style-type: decimal; }
ul ul, ol ul { list-style-type: circle; }
li ul, li ol { margin-top: 0; margin-bottom: 0; }
blockquote, figure { margin-left: 40px; margin-right: 40px; }
dd { margin-left: 40px; }
h1 { font-size: 2em; margin: 0.67em 0; }
h2 { font-size: 1.5em; margin: 0.83em 0; }
h3 { font-size: 1.17em; margin: 1em 0; }
h4 { margin: 1.33em 0; }
h5 { font-size: 0.83em; margin: 1.67em 0; }
h6 { font-size: 0.67em; margin: 2.33em 0; }
h1, h2, h3, h4, h5, h6, b, strong, th { font-weight: bold; }
i, em, cite, var, dfn, address { font-style: italic; }
u, ins { text-decoration: underline; }
s, strike, del { text-decoration: line-through; }
pre, code, tt, kbd, samp { font-family: monospace; }
pre { white-space: pre; }
small { font-size: smaller; }
big { font-size: larger; }
sub { vertical-align: sub; font-size: smaller; }
sup { vertical-align: super; font-size: smaller; }
center { text-align: center; }
a[href] { color: #0000ee; text-decoration: underline; cursor: pointer; }
hr { border: 1px inset #808080; margin: 0.5em auto; height: 0; }
table { display: table; border-collapse: separate; border-spacing: 2px; }
thead { display: table-header-group; vertical-align: middle; }
tbody { display: table-row-group; vertical-align: middle; }
tfoot { display: table-footer-group; vertical-align: middle; }
tr { display: table-row; vertical-align: inherit; }
td, th { display: table-cell; vertical-align: inherit; padding: 1px; }
th { text-align: center; }
caption { display: table-caption; text-align: center; }
)css";

// What no page may change: litehtml cannot lay out a root element that is
// part of a table.
constexpr const char kFixedCss[] = "html { display: block !important; }";

litehtml::css& FixedStyles() {
    static litehtml::css* styles = [] {
        auto* made = new litehtml::css;
        made->parse_stylesheet(kFixedCss, nullptr, nullptr, nullptr);
        made->sort_selectors();
        return made;
    }();
    return *styles;
}

litehtml::context& Context() {
    static litehtml::context* context = [] {
        auto* made = new litehtml::context;
        made->load_master_stylesheet(kMasterCss);
        return made;
    }();
    return *context;
}

bool OutOfFlow(const litehtml::element::ptr& el) {
    const litehtml::element_position position = el->get_element_position();
    return position == litehtml::element_position_absolute || position == litehtml::element_position_fixed ||
           el->get_display() == litehtml::display_none;
}

// The in-flow texts of `el` (words and spaces) in line order: where each is
// drawn, and where the last that is not a space ends.
void InFlowWords(const litehtml::element::ptr& el, std::vector<litehtml::position>& words, int& right) {
    for (std::size_t i = 0; i < el->get_children_count(); ++i) {
        const litehtml::element::ptr child = el->get_child(static_cast<int>(i));
        if (!child || OutOfFlow(child)) continue;
        if (dynamic_cast<litehtml::el_text*>(child.get()) != nullptr || child->is_white_space()) {
            const litehtml::position place = child->get_placement();
            words.push_back(place);
            if (!child->is_white_space()) right = std::max(right, place.right());
        } else {
            InFlowWords(child, words, right);
        }
    }
}

struct Boxes {
    std::vector<CLiteContainer::EllipsisBox> ellipsis;
    std::vector<CLiteContainer::ClipBox> clips;
};

void CollectBoxes(const litehtml::element::ptr& el, Boxes& boxes) {
    if (el->get_overflow() != litehtml::overflow_visible) {
        const litehtml::position content = el->get_placement();
        litehtml::position padding = content;
        padding += el->get_paddings();
        boxes.clips.push_back({content, padding});
        const char* overflow = el->get_style_property("text-overflow", false);
        if (overflow != nullptr && std::strcmp(overflow, "ellipsis") == 0 &&
            el->get_white_space() != litehtml::white_space_normal) {
            CLiteContainer::EllipsisBox box{content, 0, {}};
            InFlowWords(el, box.words, box.textRight);
            boxes.ellipsis.push_back(std::move(box));
        }
    }
    for (std::size_t i = 0; i < el->get_children_count(); ++i)
        if (const litehtml::element::ptr child = el->get_child(static_cast<int>(i)); child) CollectBoxes(child, boxes);
}

}  // namespace

CLitePage::CLitePage(const std::string& html, const std::string& uri, int width, int height)
    : m_width(width), m_height(height), m_container(width, height, uri) {
    m_document = litehtml::document::createFromUTF8(html.c_str(), &m_container, &Context(), &FixedStyles());
    Layout();
}

std::string CLitePage::Bounded(std::string html) {
    std::size_t end = std::min(html.size(), kMaxBytes);
    while (end < html.size() && end > 0 && (static_cast<unsigned char>(html[end]) & 0xC0) == 0x80) --end;
    html.resize(std::min(end, RoughEnd(html.substr(0, end))));
    GumboOutput* output = gumbo_parse_with_options(&kGumboDefaultOptions, html.data(), html.size());
    std::size_t cut = html.size();
    std::vector<std::pair<const GumboNode*, unsigned>> todo{{output->root, 1}};
    while (!todo.empty()) {
        const auto [node, depth] = todo.back();
        todo.pop_back();
        if (node->type != GUMBO_NODE_ELEMENT && node->type != GUMBO_NODE_TEMPLATE) continue;
        const GumboElement& element = node->v.element;
        if (depth > kMaxNesting) {
            if (element.original_tag.length > 0) cut = std::min<std::size_t>(cut, element.start_pos.offset);
            continue;
        }
        for (unsigned i = 0; i < element.children.length; ++i)
            todo.emplace_back(static_cast<const GumboNode*>(element.children.data[i]), depth + 1);
    }
    gumbo_destroy_output(&kGumboDefaultOptions, output);
    html.resize(cut);
    return html;
}

void CLitePage::Layout() {
    if (!m_document) return;
    m_document->render(m_width);
    Boxes boxes;
    m_links.clear();
    m_text.clear();
    if (const litehtml::element::ptr root = m_document->root()) {
        CollectBoxes(root, boxes);
        Collect(root);
    }
    while (!m_text.empty() && (m_text.back() == ' ' || m_text.back() == '\n')) m_text.pop_back();
    m_container.SetEllipsisBoxes(std::move(boxes.ellipsis));
    m_container.SetClipBoxes(std::move(boxes.clips));
}

namespace {

// The box an element takes on the page: the union of its line boxes (which
// litehtml gives in its parent's content box), or its own.
litehtml::position BoxOf(const litehtml::element::ptr& el) {
    litehtml::position::vector parts;
    el->get_inline_boxes(parts);
    if (parts.empty()) return el->get_placement();
    if (const litehtml::element::ptr parent = el->parent()) {
        const litehtml::position origin = parent->get_placement();
        for (litehtml::position& part : parts) {
            part.x += origin.x;
            part.y += origin.y;
        }
    }
    int left = parts[0].left(), top = parts[0].top(), right = parts[0].right(), bottom = parts[0].bottom();
    for (const litehtml::position& part : parts) {
        left = std::min(left, part.left());
        top = std::min(top, part.top());
        right = std::max(right, part.right());
        bottom = std::max(bottom, part.bottom());
    }
    return litehtml::position(left, top, right - left, bottom - top);
}

// Appends `words` with white space collapsed as a browser shows it.
void AppendCollapsed(std::string& to, const std::string& words) {
    for (const char c : words) {
        const bool space = c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
        if (!space)
            to += c;
        else if (!to.empty() && to.back() != ' ' && to.back() != '\n')
            to += ' ';
    }
}

}  // namespace

void CLitePage::Collect(const litehtml::element::ptr& el) {
    if (el->get_display() == litehtml::display_none || el->get_visibility() != litehtml::visibility_visible) return;
    if (dynamic_cast<litehtml::el_text*>(el.get()) != nullptr || el->is_white_space()) {
        std::string words;
        el->get_text(words);
        AppendCollapsed(m_text, words);
        return;
    }
    const char* tag = el->get_tagName();
    const bool block =
        el->get_display() != litehtml::display_inline && el->get_display() != litehtml::display_inline_block;
    const auto endLine = [&] {
        while (!m_text.empty() && m_text.back() == ' ') m_text.pop_back();
        if (!m_text.empty() && m_text.back() != '\n') m_text += '\n';
    };
    if (block) endLine();
    const char* href = tag != nullptr && std::strcmp(tag, "a") == 0 ? el->get_attr("href") : nullptr;
    if (href != nullptr) {
        std::string words;
        el->get_text(words);
        Link link;
        AppendCollapsed(link.name, words);
        while (!link.name.empty() && link.name.back() == ' ') link.name.pop_back();
        link.address = m_container.LinkAddress(href);
        link.box = BoxOf(el);
        if (link.box.width > 0 && link.box.height > 0) m_links.push_back(std::move(link));
    }
    for (std::size_t i = 0; i < el->get_children_count(); ++i)
        if (const litehtml::element::ptr child = el->get_child(static_cast<int>(i)); child) Collect(child);
    if (block) endLine();
}

void CLitePage::SetImage(const std::string& uri, GdkPixbuf* image) {
    m_container.SetImage(uri, image);
    Layout();
}

void CLitePage::Draw(cairo_t* cr, int x, int y, int width, int height) {
    if (!m_document) return;
    const litehtml::position clip(x, y, width, height);
    m_document->draw(reinterpret_cast<litehtml::uint_ptr>(cr), 0, 0, &clip);
}

bool CLitePage::MouseMove(int x, int y) {
    litehtml::position::vector changed;
    if (!m_document || !m_document->on_mouse_over(x, y, x, y, changed)) return false;
    Layout();
    return true;
}

bool CLitePage::MouseLeave() {
    litehtml::position::vector changed;
    if (!m_document || !m_document->on_mouse_leave(changed)) return false;
    Layout();
    return true;
}

bool CLitePage::ButtonDown(int x, int y) {
    litehtml::position::vector changed;
    if (!m_document || !m_document->on_lbutton_down(x, y, x, y, changed)) return false;
    Layout();
    return true;
}

bool CLitePage::ButtonUp(int x, int y, std::string& link) {
    litehtml::position::vector changed;
    const bool looks = m_document && m_document->on_lbutton_up(x, y, x, y, changed);
    link = m_container.TakeClickedLink();
    if (looks) Layout();
    return looks;
}

std::string CLitePage::TooltipAt(int x, int y) const {
    if (!m_document || !m_document->root()) return "";
    for (litehtml::element::ptr el = m_document->root()->get_element_by_point(x, y, x, y); el; el = el->parent())
        if (const char* title = el->get_attr("title"); title != nullptr && title[0] != '\0') return title;
    return "";
}

}  // namespace kivo::gtk
