#include "ContentCatalog.h"

#include <stdexcept>

#include "GbkEncoder.h"
#include "GifImage.h"
#include "HotList.h"
#include "PageRenderer.h"

namespace kivo::server {

const std::vector<std::string>& ContentCatalog::PageNames() {
    static const std::vector<std::string> kNames = {
        "today.html", "week.html", "hot.html",    "movie.html",  "teleplay.html", "game.html",     "novel.html",
        "mm.html",    "gg.html",   "mmstar.html", "ggstar.html", "scenic.html",   "newmusic.html", "hotmusic.html",
    };
    return kNames;
}

ContentCatalog ContentCatalog::Build(const std::filesystem::path& dataDir) {
    GbkEncoder gbk;
    std::vector<std::pair<std::filesystem::path, HotList>> lists;
    for (const std::string& name : PageNames()) {
        const std::filesystem::path file = dataDir / (name.substr(0, name.size() - 5) + ".txt");
        HotList list = HotList::Load(file);
        // Every text must have a GBK form: say which line has none.
        const auto check = [&](const std::string& text, int line) {
            try {
                gbk.Encode(text);
            } catch (const std::exception& e) {
                throw std::runtime_error(file.string() + ":" + std::to_string(line) + ": " + e.what());
            }
        };
        check(list.title, list.titleLine);
        for (const HotListEntry& entry : list.entries) check(entry.name, entry.line);
        lists.emplace_back(file, std::move(list));
    }

    ContentCatalog catalog;
    const PageRenderer renderer(gbk);
    for (std::size_t i = 0; i < lists.size(); ++i) {
        catalog.items_[std::string(kPrefix) + PageNames()[i]] =
            ContentItem{renderer.Render(lists[i].second), "text/html; charset=gbk", lists[i].first};
    }
    catalog.items_[std::string(kPrefix) + std::string(kBackgroundName)] =
        ContentItem{GifImage::ListBackground().Encode(), "image/gif", {}};

    for (const auto& [path, item] : catalog.items_) {
        if (item.body.size() < kMinItemBytes) {
            throw std::runtime_error(path + " is only " + std::to_string(item.body.size()) +
                                     " bytes, below the minimum of " + std::to_string(kMinItemBytes));
        }
    }
    return catalog;
}

const ContentItem* ContentCatalog::Find(std::string_view path) const {
    const auto it = items_.find(path);
    return it == items_.end() ? nullptr : &it->second;
}

}  // namespace kivo::server
