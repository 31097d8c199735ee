// kivo-server: serves the hot-list pages, version answer, update download and
// e-mail subscriptions, plus an optional control port for tests.
#include <pthread.h>
#include <signal.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <memory>
#include <thread>

#include "ContentCatalog.h"
#include "ControlService.h"
#include "FaultTable.h"
#include "MailStore.h"
#include "PublicService.h"
#include "RawTargetServer.h"
#include "ReleaseState.h"
#include "RequestLog.h"
#include "ServerOptions.h"
#include "Signer.h"
#include "StopSignal.h"

namespace {

using kivo::server::RawTargetServer;

// Binds `server`; returns the port or -1.
int Bind(RawTargetServer& server, const std::string& host, int port) {
    if (port == 0) return server.bind_to_any_port(host);
    return server.bind_to_port(host, port) ? port : -1;
}

class Listener {
public:
    explicit Listener(RawTargetServer& server) : server_(server) {
        thread_ = std::thread([this] {
            server_.listen_after_bind();
            done_.store(true);
        });
    }

    ~Listener() {
        if (thread_.joinable()) Stop();
    }

    Listener(const Listener&) = delete;
    Listener& operator=(const Listener&) = delete;

    bool Running() const { return server_.is_running() || done_.load(); }

    void Stop() {
        // stop() only acts once the accept loop runs, so repeat until it ended.
        while (!done_.load()) {
            server_.stop();
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        thread_.join();
    }

private:
    RawTargetServer& server_;
    std::atomic<bool> done_{false};
    std::thread thread_;
};

int Run(const kivo::server::ServerOptions& options) {
    using namespace kivo::server;

    const ContentCatalog catalog = ContentCatalog::Build(options.dataDir);
    MailStore mail(options.db);
    FaultTable faults;
    RequestLog log;
    ReleaseState release(options.version, options.updateFiles);
    StopSignal stop;

    RawTargetServer publicServer;
    PublicService publicService(catalog, faults, log, release, mail, stop);
    publicService.Install(publicServer);

    RawTargetServer controlServer;
    ControlService controlService(faults, log, release, mail);
    controlService.Install(controlServer);

    const int publicPort = Bind(publicServer, options.host, options.port);
    if (publicPort < 0) {
        std::cerr << "kivo-server: cannot listen on " << options.host << ":" << options.port << "\n";
        return 1;
    }
    int controlPort = 0;
    if (options.controlPort) {
        controlPort = Bind(controlServer, options.host, *options.controlPort);
        if (controlPort < 0) {
            std::cerr << "kivo-server: cannot listen on " << options.host << ":"
                      << *options.controlPort << " (control)\n";
            return 1;
        }
    }

    Listener publicListener(publicServer);
    std::unique_ptr<Listener> controlListener;
    if (options.controlPort) controlListener = std::make_unique<Listener>(controlServer);
    while (!publicListener.Running() || (controlListener && !controlListener->Running())) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }

    std::printf("listening %d %d\n", publicPort, controlPort);
    std::fflush(stdout);

    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    int received = 0;
    sigwait(&stopSignals, &received);

    stop.Trigger();
    publicListener.Stop();
    if (controlListener) controlListener->Stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::string(argv[1]) == "sign") return kivo::server::RunSign(argc - 2, argv + 2);
    // Stop signals are taken by sigwait() in Run(); block them before any
    // thread exists so that every thread inherits the mask. An inherited
    // "ignore" disposition would discard them, so restore the default first.
    signal(SIGTERM, SIG_DFL);
    signal(SIGINT, SIG_DFL);
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    kivo::server::ServerOptions options;
    try {
        options = kivo::server::ServerOptions::Parse(std::vector<std::string>(argv + 1, argv + argc));
    } catch (const kivo::server::UsageError& e) {
        std::cerr << "kivo-server: " << e.what() << "\n" << kivo::server::ServerOptions::Usage();
        return 2;
    }

    try {
        return Run(options);
    } catch (const std::exception& e) {
        std::cerr << "kivo-server: " << e.what() << "\n";
        return 1;
    }
}
