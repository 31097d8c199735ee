// Routes of the public port: /sml/<item>, /kivoversion.php, /update/update.exe
// and /postmail.php, with injected faults applied first.
#pragma once

#include <httplib.h>

#include <string>
#include <string_view>

#include "ContentCatalog.h"
#include "FaultTable.h"
#include "MailStore.h"
#include "ReleaseState.h"
#include "RequestLog.h"
#include "StopSignal.h"

namespace kivo::server {

class PublicService {
public:
    PublicService(const ContentCatalog& catalog, FaultTable& faults, RequestLog& log,
                  ReleaseState& release, MailStore& mail, StopSignal& stop)
        : catalog_(catalog), faults_(faults), log_(log), release_(release), mail_(mail), stop_(stop) {}

    // Routes every request of `server` through Handle().
    void Install(httplib::Server& server);

    void Handle(const httplib::Request& req, httplib::Response& res);

    // The address carried by a raw /postmail.php target: everything after the
    // first "email=" of the query, %XX-decoded. Empty when there is none.
    static std::string AddressFromTarget(std::string_view target);

private:
    // True when the fault produced the whole answer.
    bool ApplyFault(const Fault& fault, httplib::Response& res);
    void Route(std::string_view path, const httplib::Request& req, httplib::Response& res);
    // The installer of `platform`, or the signature published beside it.
    void ServeUpdate(const std::string& platform, bool signature, httplib::Response& res);
    void ServeMail(const httplib::Request& req, httplib::Response& res);

    const ContentCatalog& catalog_;
    FaultTable& faults_;
    RequestLog& log_;
    ReleaseState& release_;
    MailStore& mail_;
    StopSignal& stop_;
};

}  // namespace kivo::server
