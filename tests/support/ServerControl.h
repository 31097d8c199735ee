#pragma once
// kivo-server's control port as the tests steer it: answers and faults per
// path, the published version and installer, and what the server received.
// How a control request travels is the subclass's: the Linux suites start the
// server themselves, the Windows suites reach the one their script started.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/System.h"

namespace kivo::test {

class ServerControl {
public:
    virtual ~ServerControl() = default;

    // GET on the control port; returns the body. Throws std::runtime_error
    // unless answered 200.
    virtual std::string Control(const std::string& pathAndQuery) = 0;

    // SetFault(path, "mode=size&size=10"): the tail is appended unchanged.
    void SetFault(std::string_view path, std::string_view queryTail);
    void SetSize(std::string_view path, std::size_t n);
    void SetStatus(std::string_view path, int code, std::size_t n);
    void SetCut(std::string_view path, std::size_t n);
    void SetStall(std::string_view path, int ms);
    void SetSlow(std::string_view path, std::size_t n, int ms);
    void SetBody(std::string_view path, std::string_view rawBytes);
    void ClearFault(std::string_view path);
    void ClearFaults();
    void SetVersion(std::uint64_t number);
    // The installer offered to `platform` ("" is Windows), by default the
    // platform of the program under test (the server's own path; empty = none).
    void SetUpdateFile(std::string_view path, std::string_view platform = platform::UpdatePlatform());
    std::vector<std::string> Requests();        // raw public targets, arrival order
    void ClearRequests();
    std::vector<std::string> Emails();          // raw address bytes, insertion order
    void ClearEmails();
    void Reset();  // faults, version, installer and request log; not the addresses

    // Percent-encodes every byte except A-Z a-z 0-9 - . _ ~
    static std::string UrlEncode(std::string_view text);
};

}  // namespace kivo::test
