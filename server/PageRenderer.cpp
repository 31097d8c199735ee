#include "PageRenderer.h"

#include <algorithm>
#include <stdexcept>

#include "net/SearchAddress.h"

namespace kivo::server {
namespace {

constexpr int kViewHeight = 135;
constexpr int kHeadHeight = 17;  // 16px title line + 1px rule
constexpr int kListPadding = 1;
constexpr int kMaxRowPitch = 14;
constexpr int kFontSize = 12;

// Vertical metrics of one list row, chosen so that every row fits the view.
struct RowMetrics {
    int lineHeight;  // px
    int border;      // px of dotted separator below the row
    int fontSize;    // px
};

RowMetrics MetricsFor(std::size_t rows) {
    const int n = std::max(1, static_cast<int>(rows));
    const int pitch = std::min(kMaxRowPitch, (kViewHeight - kHeadHeight - kListPadding) / n);
    // Eight rows get 13px lines plus a separator; denser lists drop the separator.
    const int border = pitch >= kFontSize + 1 ? 1 : 0;
    const int lineHeight = pitch - border;
    return RowMetrics{lineHeight, border, std::min(kFontSize, lineHeight)};
}

std::string EscapeHtml(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            case '"':
                out += "&quot;";
                break;
            default:
                out.push_back(c);
        }
    }
    return out;
}

const char* TrendClass(Trend trend) {
    switch (trend) {
        case Trend::Up:
            return "up";
        case Trend::Down:
            return "down";
        case Trend::Same:
            break;
    }
    return "same";
}

const char* TrendArrow(Trend trend) {
    switch (trend) {
        case Trend::Up:
            return "\xE2\x96\xB2";  // U+25B2 black up-pointing triangle
        case Trend::Down:
            return "\xE2\x96\xBC";  // U+25BC black down-pointing triangle
        case Trend::Same:
            break;
    }
    return "\xEF\xBC\x8D";  // U+FF0D fullwidth hyphen-minus
}

const char* TrendWord(Trend trend) {
    switch (trend) {
        case Trend::Up:
            return "\xE4\xB8\x8A\xE5\x8D\x87";  // 上升
        case Trend::Down:
            return "\xE4\xB8\x8B\xE9\x99\x8D";  // 下降
        case Trend::Same:
            break;
    }
    return "\xE6\x8C\x81\xE5\xB9\xB3";  // 持平
}

std::string Px(int value) { return std::to_string(value) + "px"; }

std::string Style(const RowMetrics& m) {
    const std::string row = Px(m.lineHeight);
    const std::string badge = Px(m.lineHeight - 2);
    const std::string separator = m.border > 0 ? Px(m.border) + " dotted #1f2429" : std::string("0 none");
    return "<style type=\"text/css\">\n"
           "html,body{margin:0;padding:0;overflow:hidden}\n"
           "body{width:156px;height:135px;background:#111418 url(main_back.gif) no-repeat 0 0;"
           "color:#d5d9de;font-family:\"\xE5\xAE\x8B\xE4\xBD\x93\",SimSun,Tahoma,Verdana,sans-serif;"
           "font-size:" +
           Px(m.fontSize) + ";line-height:" + row +
           ";cursor:default;"
           "scrollbar-face-color:#2a2f35;scrollbar-track-color:#111418;"
           "scrollbar-arrow-color:#e8601c;scrollbar-shadow-color:#111418}\n"
           ".head{height:16px;line-height:16px;margin:0;padding:0 4px;"
           "border-bottom:1px solid #8a2618;color:#ff8a2b;font-weight:bold;"
           "white-space:nowrap;overflow:hidden;text-overflow:ellipsis;"
           "background:transparent}\n"
           ".head b{color:#ff4a24;font-weight:bold}\n"
           "ol{list-style:none;margin:0;padding:" +
           Px(kListPadding) +
           " 0 0 0}\n"
           "li{position:relative;height:" +
           row + ";line-height:" + row +
           ";margin:0;"
           "padding:0 13px 0 20px;white-space:nowrap;overflow:hidden;"
           "text-overflow:ellipsis;border-bottom:" +
           separator +
           "}\n"
           "li:hover{background:#262b31;color:#ffb15a}\n"
           "li .r{position:absolute;left:3px;top:1px;width:14px;height:" +
           badge +
           ";"
           "line-height:" +
           badge +
           ";text-align:center;"
           "font-family:Tahoma,Verdana,Arial,sans-serif;font-size:10px;"
           "font-weight:bold;color:#aab2bb;background:#2b3138}\n"
           "li.t1 .r{background:#d4321c;color:#ffffff}\n"
           "li.t2 .r{background:#e25a1c;color:#ffffff}\n"
           "li.t3 .r{background:#ec8424;color:#ffffff}\n"
           "li .n{color:inherit}\n"
           "li .a{position:absolute;right:2px;top:0;width:10px;text-align:center;"
           "font-size:9px;font-family:\"\xE5\xAE\x8B\xE4\xBD\x93\",SimSun,sans-serif}\n"
           "li.up .a{color:#ff4a2e}\n"
           "li.down .a{color:#4caf5f}\n"
           "li.same .a{color:#77808a}\n"
           "a{color:inherit;text-decoration:none}\n"
           "a:hover{color:#ffb15a;text-decoration:underline}\n"
           "@media print{body{background:#ffffff;color:#000000}"
           ".head{color:#000000;border-bottom-color:#000000}li .r{background:#dddddd}}\n"
           "</style>\n";
}

}  // namespace

std::string PageRenderer::RenderUtf8(const HotList& list) {
    const std::string title = EscapeHtml(list.title);
    std::string html;
    html += "<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01 Transitional//EN\">\n";
    html += "<html>\n<head>\n";
    html += "<meta http-equiv=\"Content-Type\" content=\"text/html; charset=gbk\">\n";
    html += "<title>" + title + "</title>\n";
    html += Style(MetricsFor(list.entries.size()));
    html += "</head>\n<body scroll=\"no\">\n";
    html += "<div class=\"head\">" + title + "</div>\n<ol>\n";
    for (const HotListEntry& e : list.entries) {
        const std::string rank = std::to_string(e.rank);
        html += "<li class=\"";
        if (e.rank <= 3) html += "t" + rank + " ";
        html += TrendClass(e.trend);
        // 热度 (heat), when the list has one, and the trend word as a tooltip.
        html += "\" title=\"" + EscapeHtml(e.name) + " ";
        if (e.heat > 0) html += "\xE7\x83\xAD\xE5\xBA\xA6 " + std::to_string(e.heat) + " ";
        html += std::string(TrendWord(e.trend)) + "\">";
        html += "<span class=\"r\">" + rank + "</span>";
        // The entry's own address, or its words to the web search, as from
        // the search box; the page is GBK, so the words reach the address as
        // GBK bytes.
        const std::string href = e.link.empty() ? kszSearchPrefix + e.name : e.link;
        html += "<span class=\"n\"><a href=\"" + EscapeHtml(href) + "\" target=\"_blank\">" + EscapeHtml(e.name) +
                "</a></span>";
        html += "<span class=\"a\">" + std::string(TrendArrow(e.trend)) + "</span></li>\n";
    }
    html += "</ol>\n";
    return html;
}

std::string PageRenderer::Render(const HotList& list) const {
    std::string page;
    try {
        page = gbk_.Encode(RenderUtf8(list));
    } catch (const std::exception& e) {
        throw std::runtime_error("list \"" + list.title + "\": " + e.what());
    }
    const std::string tail = "</body>\n</html>\n";
    const std::string open = "<!--\n";
    const std::string close = "\n-->\n";
    const std::size_t bare = page.size() + tail.size();
    if (bare < kMinPageBytes) {
        // Filler so that short lists still reach the minimum download size.
        const std::size_t room = kMinPageBytes - bare;
        const std::size_t fill = room > open.size() + close.size() ? room - open.size() - close.size() : 0;
        std::string filler;
        for (std::size_t i = 0; i < fill; ++i) filler.push_back((i + 1) % 64 == 0 ? '\n' : ' ');
        page += open + filler + close;
    }
    page += tail;
    if (page.size() < kMinPageBytes) {
        throw std::runtime_error("page for \"" + list.title + "\" is only " + std::to_string(page.size()) + " bytes");
    }
    return page;
}

}  // namespace kivo::server
