#pragma once

#include "Json.h"
#include "Simulator.h"

#include <string_view>

namespace folvane::sim {

struct ControlReply {
    int status = 200;
    Json body;
};

// The test-only interface under "/_sim/": JSON in, JSON out, outside the add-on's URL space.
class ControlApi {
public:
    static constexpr std::string_view prefix = "/_sim/";

    explicit ControlApi(Simulator& simulator) : simulator_(simulator) {}

    ControlReply handle(std::string_view method, std::string_view path, std::string_view body);

private:
    Simulator& simulator_;
};

} // namespace folvane::sim
