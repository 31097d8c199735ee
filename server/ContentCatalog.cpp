#include "ContentCatalog.h"

#include <stdexcept>

#include "GbkEncoder.h"
#include "GifImage.h"
#include "HotList.h"
#include "PageRenderer.h"

namespace kivo::server {

const std::vector<std::string>& ContentCatalog::PageNames() {
    static const std::vector<std::string> kNames = {
        "today.html", "week.html",   "hot.html",    "movie.html",   "teleplay.html",
        "game.html",  "novel.html",  "mm.html",     "gg.html",      "mmstar.html",
        "ggstar.html", "scenic.html", "newmusic.html", "hotmusic.html",
    };
    return kNames;
}

ContentCatalog ContentCatalog::Build(const std::filesystem::path& dataDir) {
    ContentCatalog catalog;
    GbkEncoder gbk;
    const PageRenderer renderer(gbk);
    for (const std::string& name : PageNames()) {
        const std::string stem = name.substr(0, name.size() - std::string_view(".html").size());
        const HotList list = HotList::Load(dataDir / (stem + ".txt"));
        catalog.items_[std::string(kPrefix) + name] =
            ContentItem{renderer.Render(list), "text/html; charset=gbk"};
    }
    catalog.items_[std::string(kPrefix) + std::string(kBackgroundName)] =
        ContentItem{GifImage::ListBackground().Encode(), "image/gif"};

    for (const auto& [path, item] : catalog.items_) {
        if (item.body.size() < kMinItemBytes) {
            throw std::runtime_error(path + " is only " + std::to_string(item.body.size()) +
                                     " bytes, below the minimum of " +
                                     std::to_string(kMinItemBytes));
        }
    }
    return catalog;
}

const ContentItem* ContentCatalog::Find(std::string_view path) const {
    const auto it = items_.find(path);
    return it == items_.end() ? nullptr : &it->second;
}

}  // namespace kivo::server
