// Random pages for the light page view, run under AddressSanitizer by
// bench/desktop_bench.sh: seed pages (the content server's and the files
// given) are mutated at random, read as the view reads them, laid out,
// drawn, hovered and clicked. Any fault of memory or undefined behaviour
// ends the run with the sanitizer's report; the page that caused it is left
// in CURRENT_FILE.
//   kivo-page-fuzz SECONDS CURRENT_FILE [SEED_FILE...]
#include <cairo.h>
#include <gtk/gtk.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "shells/gtk/LitePage.h"
#include "shells/gtk/PageFetch.h"
#include "shells/gtk/PageText.h"

namespace {

const char* const kPieces[] = {"<div>",
                               "</div>",
                               "<li>",
                               "<ol>",
                               "<ul>",
                               "<table>",
                               "<tr>",
                               "<td colspan=9999>",
                               "<td rowspan=-3>",
                               "</td>",
                               "<b>",
                               "</i>",
                               "<span style=\"position:absolute;left:-9999px\">",
                               "<a href=\"x\">",
                               "<img src=\"main_back.gif\">",
                               "<img width=99999 height=99999>",
                               "<br>",
                               "<p>",
                               "<!--",
                               "-->",
                               "<style>",
                               "</style>",
                               "li{float:left;width:0}",
                               "body{font-size:0}",
                               "*{display:table-cell}",
                               "{overflow:hidden;text-overflow:ellipsis;white-space:nowrap}",
                               "<meta charset=utf-16>",
                               "<meta charset=big5>",
                               "<title>",
                               "\xE2\x96\xB2",
                               "\xB5\xE7",
                               "\xFF",
                               "&amp;",
                               "&#x110000;",
                               "<base href=\"http://[::1\">",
                               "<font size=99>",
                               "<center>",
                               "<pre>\t\t</pre>",
                               "style=\"margin:-100%;padding:1e9px;line-height:-1\"",
                               "<h1>",
                               "<hr>",
                               "<select>",
                               "<script>x<y</script>"};

std::string Mutate(std::string page, std::mt19937& random) {
    const int steps = 1 + static_cast<int>(random() % 8);
    for (int i = 0; i < steps; ++i) {
        const std::size_t at = page.empty() ? 0 : random() % (page.size() + 1);
        switch (random() % 6) {
            case 0:
                if (!page.empty() && at < page.size()) page[at] = static_cast<char>(random());
                break;
            case 1:
                page.insert(at, kPieces[random() % (sizeof kPieces / sizeof kPieces[0])]);
                break;
            case 2:
                page.erase(at, random() % 64);
                break;
            case 3:
                page.insert(at, page.substr(at, random() % 256));
                break;
            case 4:
                page.resize(at);
                break;
            default:
                for (int n = static_cast<int>(random() % 50); n > 0; --n) page.insert(at, "<div><b>");
                break;
        }
    }
    return page;
}

void Exercise(const std::string& bytes, std::mt19937& random, cairo_t* cr) {
    const auto text = kivo::gtk::DecodePage(bytes);
    if (!text) return;
    kivo::gtk::CLitePage page(kivo::gtk::CLitePage::Bounded(text->utf8), "file:///tmp/kivo-fuzz/prg/today.html", 156,
                              135);
    for (const std::string& uri : page.TakeWantedImages()) {
        GdkPixbuf* image = kivo::gtk::DecodeImage(random() % 2 ? bytes : std::string());
        page.SetImage(uri, image);
        if (image != nullptr) g_object_unref(image);
    }
    page.Draw(cr, 0, 0, 156, 135);
    for (int i = 0; i < 4; ++i) {
        const int x = static_cast<int>(random() % 170) - 7, y = static_cast<int>(random() % 150) - 7;
        page.MouseMove(x, y);
        page.TooltipAt(x, y);
        std::string link;
        page.ButtonDown(x, y);
        page.ButtonUp(x, y, link);
    }
    page.MouseLeave();
    page.Draw(cr, 0, 0, 156, 135);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: kivo-page-fuzz SECONDS CURRENT_FILE [SEED_FILE...]\n");
        return 2;
    }
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(std::atoi(argv[1]));
    std::vector<std::string> seeds{"<html><body><ol><li title=t>entry</li></ol></body></html>"};
    for (int i = 3; i < argc; ++i) {
        std::ifstream in(argv[i], std::ios::binary);
        std::stringstream bytes;
        bytes << in.rdbuf();
        seeds.push_back(bytes.str());
    }
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 156, 135);
    cairo_t* cr = cairo_create(surface);
    std::mt19937 random(20240611);
    long runs = 0;
    while (std::chrono::steady_clock::now() < end) {
        const std::string page = Mutate(seeds[random() % seeds.size()], random);
        std::ofstream(argv[2], std::ios::binary | std::ios::trunc) << page;
        Exercise(page, random, cr);
        ++runs;
    }
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
    std::printf("%ld pages, no fault\n", runs);
}
