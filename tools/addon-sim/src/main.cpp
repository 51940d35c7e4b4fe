#include "CommandLine.h"
#include "DemoSites.h"
#include "HttpFrontend.h"
#include "Simulator.h"

#include <csignal>
#include <cstdio>
#include <iostream>
#include <optional>
#include <pthread.h>
#include <thread>

using namespace folvane::sim;

namespace {

constexpr int exitBadInput = 2;
constexpr int exitCannotServe = 1;

// Blocks SIGINT and SIGTERM in every thread started afterwards, so that main can wait for them with sigwait.
sigset_t blockStopSignals() {
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);
    // A client that hangs up early must not kill the server with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    return signals;
}

} // namespace

int main(int argc, char** argv) {
    const CommandLine commandLine = parseCommandLine({argv + 1, argv + argc});
    if (!commandLine.error.empty()) {
        std::cerr << "folvane3-addon-sim: " << commandLine.error << "\nTry 'folvane3-addon-sim --help'.\n";
        return exitBadInput;
    }
    const Options& options = commandLine.options;
    if (options.help) {
        std::cout << helpText();
        return 0;
    }
    std::optional<Simulator> simulator;
    try {
        SiteSeed seed = options.seedPath ? readSeedFile(*options.seedPath) : demoSite(options.cms);
        simulator.emplace(std::move(seed), SiteDefaults{options.cms, options.user, options.password});
    } catch (const SeedError& e) {
        std::cerr << "folvane3-addon-sim: "
                  << (options.seedPath ? "seed file " + *options.seedPath + ": " : "") << e.what() << "\n";
        return exitBadInput;
    }

    sigset_t stopSignals = blockStopSignals();
    HttpFrontend frontend(*simulator, options.verbose);
    const int port = frontend.bind(options.host, options.port);
    if (port < 0) {
        std::cerr << "folvane3-addon-sim: cannot listen on " << options.host << " port " << options.port
                  << "\n";
        return exitCannotServe;
    }
    std::cout << "READY " << port << " " << addonBaseUrl(simulator->cms(), options.host, port) << std::endl;

    bool served = true;
    const pthread_t mainThread = pthread_self();
    std::thread server([&] {
        served = frontend.serve();
        // Listening ended on its own: wake main, which is waiting for a stop signal.
        pthread_kill(mainThread, SIGTERM);
    });
    int received = 0;
    sigwait(&stopSignals, &received);
    frontend.stop();
    server.join();
    return served ? 0 : exitCannotServe;
}
