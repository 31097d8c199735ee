// kivo-make-skin: paints the popup's skin and writes it under a resource folder.
//
//   kivo-make-skin DIR            write DIR/bitmaps/<id>.bmp, DIR/icon128.ico,
//                                 DIR/icon128.png, DIR/icons/kivo-<n>.png and
//                                 DIR/skin.txt
//   kivo-make-skin --check DIR    check the headers and sizes of those files
//   kivo-make-skin --compare DIR  also check that they equal a fresh rendering
//
// Output is the same bytes on every run: no time stamps, fixed font options.

#include "image_io.h"
#include "skin_draw.h"

#include <cairo.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace {

using Painter = std::function<void(cairo_t*, int, int)>;

struct Piece {
    int id;
    int width, height;
    int x, y;  // where the piece sits in the popup
    std::string meaning;
    Painter paint;
};

const std::vector<std::string> kListTitles = {
    "今日上升最快Top8", "一周热点Top8", "热门搜索Top8", "电影流行榜",   "电视剧流行榜", "游戏流行榜", "小说流行榜",
    "十大美女",         "十大帅哥",     "最火女歌手榜", "最火男歌手榜", "十佳旅游景点", "新歌流行榜", "中文金曲榜",
};

int banner_id(std::size_t list_index) {
    // List 1 has its own id; lists 2..14 follow on from 152.
    return list_index == 0 ? 129 : 151 + static_cast<int>(list_index);
}

std::vector<Piece> pieces() {
    using namespace skin;
    std::vector<Piece> all;
    for (std::size_t i = 0; i < kListTitles.size(); ++i) {
        const std::string title = kListTitles[i];
        all.push_back({banner_id(i), kBannerWidth, kBannerHeight, 0, 0,
                       "banner of list " + std::to_string(i + 1) + ": " + title,
                       [title](cairo_t* cr, int w, int h) { draw_banner(cr, w, h, title); }});
    }
    all.push_back(
        {151, 17, 17, kHideButtonX, kHideButtonY, "hide button (minus), drawn over the banner", draw_hide_button});
    all.push_back({142, 6, 197, 0, 24, "left frame edge", draw_left_edge});
    all.push_back({137, 6, 197, 159, 24, "right frame edge", draw_right_edge});
    all.push_back({170, 155, 3, 4, 153, "frame strip above the chooser row", draw_strip_under_page});
    all.push_back({147, 60, 18, 4, 156,
                   "caption 选择分类:", [](cairo_t* cr, int w, int h) { draw_caption(cr, w, h, "选择分类:"); }});
    all.push_back({169, 4, 18, 154, 156, "filler right of the chooser", draw_filler});
    all.push_back({146, 154, 5, 4, 172, "frame strip under the chooser row", draw_strip_under_chooser});
    all.push_back({144, 153, 5, 6, 177, "frame strip above the search row", draw_strip_over_search});
    all.push_back(
        {145, 39, 16, 6, 181, "caption 搜索:", [](cairo_t* cr, int w, int h) { draw_caption(cr, w, h, "搜索:"); }});
    all.push_back({168, 5, 17, 138, 181, "filler between the search box and the search button", draw_filler});
    all.push_back({150, 17, 16, 142, 181, "search button (magnifying glass)", draw_search_button});
    all.push_back({143, 153, 4, 6, 196, "frame strip above the bottom bar", draw_strip_over_bar});
    all.push_back({140, kBarWidth, kBarHeight, 6, 201, "bottom bar with the Kivo logo at its left", draw_bottom_bar});
    all.push_back({139, 65, 20, 6 + kSiteButtonX, 201, "site button 更多热门词, drawn over the bottom bar",
                   [](cairo_t* cr, int w, int h) { draw_site_button(cr, w, h, "更多热门词"); }});
    all.push_back({128, 32, 32, -1, -1, "application icon as a 24-bit bitmap (over black)", draw_icon});
    return all;
}

const std::vector<int> kIconSizes = {16, 32, 48};
constexpr int kPngIconSize = 48;
// The sizes of the icon theme's folders (hicolor/<n>x<n>/apps/kivo.png).
const std::vector<int> kThemeIconSizes = {16, 22, 24, 32, 48, 64, 128, 256};

std::string theme_icon_name(int size) { return "icons/kivo-" + std::to_string(size) + ".png"; }

cairo_surface_t* render(const Painter& paint, int w, int h, cairo_format_t format) {
    cairo_surface_t* s = cairo_image_surface_create(format, w, h);
    cairo_t* cr = cairo_create(s);
    paint(cr, w, h);
    cairo_destroy(cr);
    cairo_surface_flush(s);
    return s;
}

std::string bmp_name(int id) { return "bitmaps/" + std::to_string(id) + ".bmp"; }

std::string hex_colour(unsigned c) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "#%06X", c);
    return buf;
}

std::string skin_table() {
    std::string t;
    t += "# Kivo skin. Written by res/generator (kivo-make-skin); rebuild it rather than editing by hand.\n";
    t += "# Bitmaps are 24-bit BI_RGB BMPs. x,y is the piece's place in the 179x221 popup (-,- = not placed).\n";
    t += "# Pieces later in the table are drawn over earlier ones.\n";
    t += "#\n# id\tfile\twidth\theight\tx\ty\tmeaning\n";
    for (const Piece& p : pieces()) {
        const std::string place = p.x < 0 ? "-\t-" : std::to_string(p.x) + "\t" + std::to_string(p.y);
        t += std::to_string(p.id) + "\t" + bmp_name(p.id) + "\t" + std::to_string(p.width) + "\t" +
             std::to_string(p.height) + "\t" + place + "\t" + p.meaning + "\n";
    }
    t += "128\ticon128.ico\t16,32,48\t16,32,48\t-\t-\tapplication icon for Windows (32-bit BGRA + AND mask)\n";
    t += "128\ticon128.png\t48\t48\t-\t-\tapplication icon for Linux (RGBA)\n";
    for (int size : kThemeIconSizes)
        t += "128\t" + theme_icon_name(size) + "\t" + std::to_string(size) + "\t" + std::to_string(size) +
             "\t-\t-\tapplication icon for the desktop's icon theme (RGBA)\n";
    t += "#\n# Not bitmaps: the page view fills (4,21) 156x135, the chooser (61,156) 94x18,\n";
    t += "# the search edit (43,181) 95x18.\n";
    t += "# colour\tpanel\t" + hex_colour(skin::kPanelColour) +
         "\tpopup background; fills the seams between pieces (column 158 of the chooser row, row 200)\n";
    t += "# colour\ttext\t" + hex_colour(skin::kTextColour) + "\tred of the lettering, for text drawn at run time\n";
    return t;
}

struct Output {
    std::string file;
    skin::Bytes bytes;
    std::function<std::string(const std::string&)> check;
};

std::vector<Output> render_all() {
    std::vector<Output> out;
    for (const Piece& p : pieces()) {
        cairo_surface_t* s = render(p.paint, p.width, p.height, CAIRO_FORMAT_ARGB32);
        const int w = p.width, h = p.height;
        out.push_back({bmp_name(p.id), skin::encode_bmp24(s),
                       [w, h](const std::string& path) { return skin::check_bmp24(path, w, h); }});
        cairo_surface_destroy(s);
    }
    std::vector<cairo_surface_t*> icons;
    for (int size : kIconSizes) icons.push_back(render(skin::draw_icon, size, size, CAIRO_FORMAT_ARGB32));
    out.push_back({"icon128.ico", skin::encode_ico(icons),
                   [](const std::string& path) { return skin::check_ico(path, kIconSizes); }});
    for (cairo_surface_t* s : icons) cairo_surface_destroy(s);
    cairo_surface_t* png = render(skin::draw_icon, kPngIconSize, kPngIconSize, CAIRO_FORMAT_ARGB32);
    out.push_back({"icon128.png", skin::encode_png(png),
                   [](const std::string& path) { return skin::check_png(path, kPngIconSize, kPngIconSize); }});
    cairo_surface_destroy(png);
    for (int size : kThemeIconSizes) {
        cairo_surface_t* icon = render(skin::draw_icon, size, size, CAIRO_FORMAT_ARGB32);
        out.push_back({theme_icon_name(size), skin::encode_png(icon),
                       [size](const std::string& path) { return skin::check_png(path, size, size); }});
        cairo_surface_destroy(icon);
    }
    const std::string table = skin_table();
    out.push_back({"skin.txt", skin::Bytes(table.begin(), table.end()), nullptr});
    return out;
}

int generate(const std::filesystem::path& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir / "bitmaps", ec);
    if (!ec) std::filesystem::create_directories(dir / "icons", ec);
    if (ec) {
        std::fprintf(stderr, "cannot create %s: %s\n", (dir / "bitmaps").c_str(), ec.message().c_str());
        return 1;
    }
    int written = 0;
    for (const Output& o : render_all()) {
        if (!skin::write_file((dir / o.file).string(), o.bytes)) {
            std::fprintf(stderr, "cannot write %s\n", (dir / o.file).c_str());
            return 1;
        }
        ++written;
    }
    std::printf("wrote %d files under %s\n", written, dir.c_str());
    return 0;
}

int check(const std::filesystem::path& dir, bool compare) {
    int problems = 0, checked = 0;
    for (const Output& o : render_all()) {
        const std::string path = (dir / o.file).string();
        std::string problem = o.check ? o.check(path) : std::string();
        if (problem.empty() && compare) {
            bool ok = false;
            const skin::Bytes on_disk = skin::read_file(path, &ok);
            if (!ok)
                problem = path + ": cannot be read";
            else if (on_disk != o.bytes)
                problem = path + ": differs from a fresh rendering";
        }
        ++checked;
        if (!problem.empty()) {
            std::fprintf(stderr, "%s\n", problem.c_str());
            ++problems;
        }
    }
    if (problems) return 1;
    std::printf("%d files under %s are well formed%s\n", checked, dir.c_str(), compare ? " and up to date" : "");
    return 0;
}

int usage() {
    std::fprintf(stderr, "usage: kivo-make-skin [--check | --compare] DIR\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && argv[1][0] != '-') return generate(argv[1]);
    if (argc == 3 && std::string(argv[1]) == "--check") return check(argv[2], false);
    if (argc == 3 && std::string(argv[1]) == "--compare") return check(argv[2], true);
    return usage();
}
