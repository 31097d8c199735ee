#pragma once
// The page cache: the cache folder "prg" with the pages' shared background
// image and one page per hot list, the addresses the popup shows (the cached
// copy when there is one, the server's page otherwise) and the refresh that
// mirrors the server's pages into the folder.
#include <array>
#include <optional>
#include <string>

#include "net/Catalogue.h"
#include "net/Transfers.h"

namespace kivo::platform {
class DataFolders;
}

namespace kivo::net {

// What a refresh did, item by item in the order of g_szRefreshItems.
struct [[nodiscard]] RefreshReport {
    // Empty for an item not asked for: the background image while a copy of
    // it is there.
    std::array<std::optional<TransferResult>, kRefreshItemCount> items;

    int Count(TransferResult result) const;
    // "14 replaced, 1 not reached, kept" or "nothing fetched".
    std::string Summary() const;
};

class PageCache {
public:
    // The folder is made on the cache kind of `folders`; transfers go through
    // `transfers`. Both outlive the cache.
    PageCache(const kivo::platform::DataFolders& folders, Transfers& transfers);

    // The cache folder with its separator (`bLocal`), or the server's page
    // folder, "http://host/sml/".
    std::string GetPageBase(bool bLocal) const;
    // The page of a category 1..14: "file://" and the cached copy's path when
    // one can be read, the server's page otherwise. Any other number gives
    // the server's bare page folder.
    std::string PageAddress(int nCategory) const;
    // Makes the cache folder; false when it could not (it exists, say).
    bool MakeFolder() const;
    // True when `path` names a regular file that can be opened for reading.
    static bool FileExists(const std::string& path);

    // The background image when no copy of it is there, then the fourteen
    // pages, one after the other (Transfers::DownloadFile) over one session.
    // Creates no folder: without the cache folder nothing is written.
    [[nodiscard]] RefreshReport RefreshPages();
    // Removes the ".part" files (of pages and of their validators) a refresh
    // cut short by the end of the process left; none ever counts as a copy.
    void RemoveLeftovers();

private:
    const kivo::platform::DataFolders& folders_;
    Transfers& transfers_;
};

}  // namespace kivo::net
