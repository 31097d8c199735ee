// httplib::Server whose handlers see the request target exactly as it came
// off the wire (Request::target), including targets with several '?' that
// httplib would otherwise answer with 400. Connections are served through
// ConnectionStream, so idle keep-alive connections end promptly on stop().
#pragma once

#include <httplib.h>

namespace kivo::server {

class RawTargetServer : public httplib::Server {
public:
    RawTargetServer();

private:
    bool process_and_close_socket(socket_t sock) override;
};

}  // namespace kivo::server
