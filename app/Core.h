#pragma once
// The program's core, built from the bottom up: the settings record with the
// data folders, the transfers with their HTTP client, the page cache and the
// updater over them. The application object holds the one of the process; a
// test makes its own in a folder of its own.
#include <string>

#include "app/Config.h"
#include "app/Updater.h"
#include "net/PageCache.h"
#include "net/Transfers.h"

namespace kivo::app {

struct Core {
    // `installDir` as for CConfig: empty for the running executable's folder.
    explicit Core(std::string installDir = {})
        : config(std::move(installDir)), pages(config.Folders(), transfers), updater(config, transfers) {}
    Core(const Core&) = delete;
    Core& operator=(const Core&) = delete;

    // The address the popup shows for a category 1..14; 0 stands for the
    // record's default list (net::PageCache::PageAddress).
    std::string GetPageUrl(int nCategory);
    // Makes the cache folder and removes what an ended process may have left
    // half-written: the settings file's ".tmp" sibling and the cache's
    // ".part" files. The program does this once, at start.
    void PrepareFolders();

    CConfig config;
    net::Transfers transfers;
    net::PageCache pages;
    Updater updater;
};

}  // namespace kivo::app
