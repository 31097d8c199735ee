#pragma once
// The HTTP client every transfer of the program goes through.
#include <memory>

#include "platform/Http.h"

namespace kivo::net {

inline constexpr const char* kUserAgent = "VedaVU/1.0";

// The client in use: the operating system's backend with its default
// time-outs unless another one was set.
std::shared_ptr<platform::IHttpClient> HttpClient();

// Replaces the client for every later transfer (for example one with shorter
// time-outs); null restores the default.
void SetHttpClient(std::shared_ptr<platform::IHttpClient> client);

}  // namespace kivo::net
