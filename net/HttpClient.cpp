#include "net/HttpClient.h"

#include <mutex>

namespace kivo::net {

namespace {
std::mutex g_clientMutex;
std::shared_ptr<platform::IHttpClient> g_client;
}  // namespace

std::shared_ptr<platform::IHttpClient> HttpClient() {
    std::lock_guard<std::mutex> lock(g_clientMutex);
    if (!g_client) g_client = platform::CreateHttpClient();
    return g_client;
}

void SetHttpClient(std::shared_ptr<platform::IHttpClient> client) {
    std::lock_guard<std::mutex> lock(g_clientMutex);
    g_client = std::move(client);
}

}  // namespace kivo::net
