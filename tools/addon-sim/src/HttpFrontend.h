#pragma once

#include "ControlApi.h"
#include "InterruptibleSleep.h"
#include "Simulator.h"

#include <httplib.h>

#include <string>

namespace folvane::sim {

// The HTTP side: hands add-on requests to the simulator and "/_sim/" requests to the control interface.
class HttpFrontend {
public:
    HttpFrontend(Simulator& simulator, bool verbose);

    // Returns the port now listening, or -1.
    int bind(const std::string& host, int port);
    // Serves until stop(); false when listening failed.
    bool serve();
    void stop();

private:
    void handle(const httplib::Request& request, httplib::Response& response);
    void handleAddon(const httplib::Request& request, httplib::Response& response);
    // Sends the answer one byte at a time, each after the fault's pause.
    void drip(httplib::Response& response, std::string body, const FaultDecision& decision,
              const std::string& contentType);
    void handleControl(const httplib::Request& request, httplib::Response& response);
    void report(const httplib::Request& request, const std::string& outcome) const;

    Simulator& simulator_;
    ControlApi control_;
    InterruptibleSleep sleep_;
    bool verbose_;
    httplib::Server server_;
};

} // namespace folvane::sim
