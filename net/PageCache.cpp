#include "net/PageCache.h"

#include "net/ServerAddress.h"
#include "platform/DataFolders.h"
#include "platform/Http.h"
#include "platform/System.h"

namespace kivo::net {

int RefreshReport::Count(TransferResult result) const {
    int count = 0;
    for (const auto& item : items) count += item == result ? 1 : 0;
    return count;
}

std::string RefreshReport::Summary() const {
    std::string summary;
    for (const TransferResult result :
         {TransferResult::kReplaced, TransferResult::kUnchanged, TransferResult::kTooShort, TransferResult::kCutOff,
          TransferResult::kNotReached, TransferResult::kNotWritten}) {
        const int count = Count(result);
        if (count == 0) continue;
        if (!summary.empty()) summary += ", ";
        summary += std::to_string(count) + " " + Describe(result);
    }
    return summary.empty() ? "nothing fetched" : summary;
}

PageCache::PageCache(const kivo::platform::DataFolders& folders, Transfers& transfers)
    : folders_(folders), transfers_(transfers) {}

std::string PageCache::GetPageBase(bool bLocal) const {
    if (!bLocal) return ServerAddress() + "/sml/";
    return folders_.DataDir(kivo::platform::UserFolder::Cache) + "prg" + kivo::platform::PathSeparator();
}

bool PageCache::FileExists(const std::string& path) { return kivo::platform::IsReadableFile(path); }

bool PageCache::MakeFolder() const { return kivo::platform::MakeDir(GetPageBase(true)); }

std::string PageCache::PageAddress(int nCategory) const {
    const std::string page = PageFileName(nCategory);
    const std::string local = GetPageBase(true) + page;
    if (!page.empty() && FileExists(local)) return "file://" + local;
    return GetPageBase(false) + page;
}

RefreshReport PageCache::RefreshPages() {
    RefreshReport report;
    const std::string local = GetPageBase(true);
    const std::string remote = GetPageBase(false);
    // One session for the whole run: its items share one connection, and a
    // new one is made only when the server closed it.
    const std::unique_ptr<kivo::platform::IHttpSession> session = transfers_.OpenSession();
    for (int i = 0; i < kRefreshItemCount; ++i) {
        const std::string name = g_szRefreshItems[i];
        // The shared background image is fetched only while it is missing.
        if (i == 0 && FileExists(local + name)) continue;
        report.items[i] =
            session ? transfers_.DownloadFile(remote + name, local + name, session.get()) : TransferResult::kNotReached;
    }
    return report;
}

void PageCache::RemoveLeftovers() {
    const std::string local = GetPageBase(true);
    for (const char* item : g_szRefreshItems) {
        kivo::platform::RemoveFile(local + item + ".part");
        kivo::platform::RemoveFile(Transfers::ValidatorsPath(local + item) + ".part");
    }
}

}  // namespace kivo::net
