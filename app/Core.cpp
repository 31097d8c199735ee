#include "app/Core.h"

namespace kivo::app {

std::string Core::GetPageUrl(int nCategory) {
    if (nCategory == 0) {
        auto lock = config.Lock();
        nCategory = config.m_nCategory;
    }
    return pages.PageAddress(nCategory);
}

void Core::PrepareFolders() {
    pages.MakeFolder();
    config.RemoveSaveLeftover();
    pages.RemoveLeftovers();
}

}  // namespace kivo::app
