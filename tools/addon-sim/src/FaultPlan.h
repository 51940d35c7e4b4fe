#pragma once

#include "Json.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <string_view>
#include <vector>

namespace folvane::sim {

enum class FaultKind {
    Delay,
    RandomDelay,
    NonJson,
    Refuse,
    Drop,
    LoseAnswer,
    SuccessNoMessage,
    Raw,
    Redirect,
    Drip
};

// What the active faults make of one request: a wait before it is handled, and at most one replacement for
// its normal answer.
struct FaultDecision {
    std::chrono::milliseconds delay{0};
    std::optional<FaultKind> outcome; // never a delay kind
    std::string message;              // for Refuse; empty = the default text
    std::string body;                 // for Raw, and Drip when set
    std::string location;             // for Redirect; empty = the request's own address
    long long ms = 0;                 // for Drip: the pause before each byte
    long long length = -1;            // for Drip: the announced Content-Length; -1 = the body's length
};

// The faults that tests injected, in the order they were added. Delays add up; of the other kinds the first
// matching fault wins and only it uses up one of its "times".
class FaultPlan {
public:
    // Adds a fault from its JSON description; returns why it is unusable instead.
    std::optional<std::string> add(const Json& fault);
    FaultDecision decide(std::string_view action);
    void clear() { faults_.clear(); }

private:
    struct Fault {
        std::string action; // an action name or "*"
        FaultKind kind = FaultKind::Delay;
        long long ms = 0;
        long long minMs = 0;
        long long maxMs = 0;
        std::mt19937 random;
        std::string message;
        std::string body;
        std::string location;
        long long length = -1;
        std::optional<long long> remaining; // absent = every time
    };

    std::vector<Fault> faults_;
};

} // namespace folvane::sim
