#include "app/Config.h"
#include "net/Catalogue.h"
#include "net/ServerAddress.h"
#include "platform/System.h"

std::string CConfig::GetPageBase(bool bLocal) const {
    if (!bLocal) return kivo::net::ServerAddress() + "/sml/";
    return GetDataDir(kivo::platform::UserFolder::Cache) + "prg" + kivo::platform::PathSeparator();
}

bool CConfig::FileExists(const std::string& path) { return kivo::platform::IsReadableFile(path); }

std::string CConfig::GetPageUrl(int nCategory) const {
    if (nCategory == 0) nCategory = m_nCategory;
    const std::string page = PageFileName(nCategory);
    const std::string local = GetPageBase(true) + page;
    if (FileExists(local)) return "file://" + local;
    return GetPageBase(false) + page;
}
