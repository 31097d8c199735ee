// Routes of the control port, used by tests to steer the public port.
#pragma once

#include <httplib.h>

#include "FaultTable.h"
#include "MailStore.h"
#include "ReleaseState.h"
#include "RequestLog.h"

namespace kivo::server {

class ControlService {
public:
    ControlService(FaultTable& faults, RequestLog& log, ReleaseState& release, MailStore& mail)
        : faults_(faults), log_(log), release_(release), mail_(mail) {}

    void Install(httplib::Server& server);

private:
    void SetFault(const httplib::Request& req, httplib::Response& res);

    FaultTable& faults_;
    RequestLog& log_;
    ReleaseState& release_;
    MailStore& mail_;
};

}  // namespace kivo::server
