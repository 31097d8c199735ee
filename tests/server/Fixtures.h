#pragma once
// Real servers the content server's suites run beside it: a PostgreSQL
// cluster of its own and nginx over an exported tree, both on loopback or a
// socket in a temporary folder. Needs KIVO_PG_BIN, KIVO_NGINX and
// KIVO_SOURCE_DIR from the suite's build.
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/support/Files.h"
#include "tests/support/Process.h"
#include "tests/support/Socket.h"
#include "tests/support/TempDir.h"
#include "tests/support/Wait.h"

namespace kivo::test {

// A PostgreSQL cluster of its own in a temporary folder, reached only over a
// socket in that folder; run as the "postgres" user when the tests are root
// (the server refuses root).
class Postgres {
public:
    Postgres() {
        ::chmod(dir_.Path().c_str(), 0755);
        if (::geteuid() == 0) {
            const passwd* user = ::getpwnam("postgres");
            if (user == nullptr || ::chown(dir_.Path().c_str(), user->pw_uid, user->pw_gid) != 0)
                throw std::runtime_error("no postgres user to run PostgreSQL as");
        }
        Run("initdb", {"-D", Data(), "-A", "trust", "-U", "kivo", "--no-sync", "-E", "UTF8", "--locale", "C"});
        Run("pg_ctl", {"-D", Data(), "-l", dir_.File("log"), "-w", "-o",
                       "-k " + dir_.Path() + " -c listen_addresses= -c fsync=off", "start"});
    }
    ~Postgres() { Run("pg_ctl", {"-D", Data(), "-m", "fast", "-w", "stop"}); }
    std::string Uri() const { return "postgresql:///postgres?host=" + dir_.Path() + "&user=kivo"; }

private:
    std::string Data() const { return dir_.File("data"); }
    void Run(const std::string& tool, std::vector<std::string> args) const {
        std::string program = std::string(KIVO_PG_BIN) + "/" + tool;
        if (::geteuid() == 0) {
            args.insert(args.begin(), {"-u", "postgres", "--", program});
            program = "runuser";
        }
        Process process(program, args, {}, ProcessOptions{dir_.File("tools.log")});
        if (process.Wait(std::chrono::seconds(60)) != 0)
            throw std::runtime_error(tool + " failed: " + ReadBytes(dir_.File("tools.log")).value_or(""));
    }
    TempDir dir_{"kivo-pg"};
};

// nginx on a loopback port with the deployment file as it ships (its address,
// folder and upstream replaced).
class Nginx {
public:
    Nginx(const std::string& dir, const std::string& root, int upstream) : port_(FreePort()) {
        std::string site = ReadBytes(KIVO_SOURCE_DIR "/server/deploy/nginx.conf").value_or("");
        const auto replace = [&](const std::string& from, const std::string& to) {
            const std::size_t at = site.find(from);
            if (at == std::string::npos) throw std::runtime_error("nginx.conf lacks " + from);
            site.replace(at, from.size(), to);
        };
        replace("listen 80;", "listen 127.0.0.1:" + std::to_string(port_) + ";");
        replace("root /srv/kivo/public;", "root " + root + ";");
        replace("server 127.0.0.1:8123;", "server 127.0.0.1:" + std::to_string(upstream) + ";");
        WriteBytes(dir + "/kivo.conf", site);
        WriteBytes(dir + "/nginx.conf", "worker_processes 1;\npid " + dir +
                                            "/nginx.pid;\n"
                                            "events { worker_connections 256; }\n"
                                            "http { access_log off; include " +
                                            dir + "/kivo.conf; }\n");
        process_ = std::make_unique<Process>(KIVO_NGINX,
                                             std::vector<std::string>{"-p", dir, "-c", dir + "/nginx.conf", "-e",
                                                                      dir + "/error.log", "-g", "daemon off;"},
                                             std::vector<std::string>{}, ProcessOptions{dir + "/nginx.log"});
        if (!WaitUntil([this] { return Connection(port_).Connected(); }, std::chrono::seconds(10)))
            throw std::runtime_error("nginx did not start: " + ReadBytes(dir + "/nginx.log").value_or(""));
    }
    int Port() const { return port_; }

private:
    int port_;
    std::unique_ptr<Process> process_;
};

}  // namespace kivo::test
