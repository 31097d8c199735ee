// kivo-server: serves the hot-list pages, the version answers, the installers
// with their signatures, and records e-mail subscriptions. `export` writes the
// same public tree for any web server; `sign` signs an installer.
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <mutex>

#include "Content.h"
#include "ContentWatch.h"
#include "HttpServer.h"
#include "LiveLists.h"
#include "MailStore.h"
#include "Operations.h"
#include "PublicSite.h"
#include "ServerOptions.h"
#include "Signer.h"

namespace {

using namespace kivo::server;

// As many descriptors as the system lets this process have: one per connection.
void RaiseDescriptorLimit() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = limit.rlim_max;
        setrlimit(RLIMIT_NOFILE, &limit);
    }
}

int Serve(const ServerOptions& options, const sigset_t& signals) {
    RaiseDescriptorLimit();
    const Release release = options.ToRelease();
    const std::unique_ptr<MailStore> mail = OpenMailStore(options.db);
    PublicSite site(Content::Load(options.dataDir, release), *mail);
    // The lists sources.txt names are imported on threads of their own.
    LiveLists lists(options.dataDir, options.db);
    Operations operations(options, site, *mail);
    operations.Counters().SetListGauges([&lists] {
        std::vector<ListGauge> gauges;
        for (const ListState& state : lists.ImportedStates())
            gauges.push_back(ListGauge{state.page + ".html", state.lastSuccessMs / 1000, state.failures});
        return gauges;
    });

    // A reload checks every file first; anything wrong leaves the pages
    // served as they were and says which file (and line) is at fault.
    std::mutex reloading;
    const auto reload = [&](ContentWatch& watch) {
        std::lock_guard<std::mutex> lock(reloading);
        lists.Reload(std::cerr);
        try {
            auto content = Content::Load(options.dataDir, release);
            watch.Follow(*content);
            site.Publish(content);
            std::cerr << "kivo-server: content reloaded\n";
            operations.Reloaded(content.get());
        } catch (const std::exception& e) {
            std::cerr << "kivo-server: " << e.what() << "; still serving the previous content\n";
            operations.Reloaded(nullptr);
        }
    };
    ContentWatch watch([&] { reload(watch); });
    watch.Follow(*site.Current());

    HttpServer::Settings settings;
    settings.host = options.host;
    settings.port = options.port;
    settings.observers = operations.Observers();
    HttpServer server(settings, [&site](Exchange& exchange) { return site.Handle(exchange); });
    std::printf("listening %d\n", server.Port());
    if (operations.MetricsPort() != 0) std::printf("metrics %d\n", operations.MetricsPort());
    std::fflush(stdout);
    operations.Ready();

    for (;;) {
        int received = 0;
        if (sigwait(&signals, &received) != 0) continue;
        if (received == SIGUSR1) {
            operations.ReopenLog();
            continue;
        }
        if (received != SIGHUP) break;
        operations.Reloading();
        reload(watch);
        operations.Ready();
    }
    operations.Stopping();
    site.Close();
    server.Stop();
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    if (!args.empty() && args[0] == "sign") return RunSign(argc - 2, argv + 2);
    const bool exporting = !args.empty() && args[0] == "export";
    const bool importing = !args.empty() && (args[0] == "import" || args[0] == "status");
    if (exporting && args.size() < 2) {
        std::cerr << ServerOptions::Usage();
        return 2;
    }

    // Stop and reload signals are taken by sigwait(); block them before any
    // thread exists so that every thread inherits the mask. An inherited
    // "ignore" disposition would discard them, so restore the default first.
    sigset_t signals;
    sigemptyset(&signals);
    for (const int s : {SIGTERM, SIGINT, SIGHUP, SIGUSR1}) {
        signal(s, SIG_DFL);
        sigaddset(&signals, s);
    }
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    signal(SIGPIPE, SIG_IGN);

    ServerOptions options;
    try {
        options = ServerOptions::Parse(std::vector<std::string>(args.begin() + (exporting   ? 2
                                                                                : importing ? 1
                                                                                            : 0),
                                                                args.end()));
    } catch (const UsageError& e) {
        std::cerr << "kivo-server: " << e.what() << "\n" << ServerOptions::Usage();
        return 2;
    }

    if (importing) {
        return args[0] == "import" ? RunImportCommand(options.dataDir, options.db, std::cout, std::cerr)
                                   : RunStatusCommand(options.dataDir, options.db, std::cout, std::cerr);
    }
    try {
        if (exporting) {
            Content::Load(options.dataDir, options.ToRelease())->Export(args[1]);
            return 0;
        }
        return Serve(options, signals);
    } catch (const std::exception& e) {
        std::cerr << "kivo-server: " << e.what() << "\n";
        return 1;
    }
}
