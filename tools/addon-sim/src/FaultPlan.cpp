#include "FaultPlan.h"

#include <algorithm>
#include <array>
#include <utility>

namespace folvane::sim {

namespace {

constexpr long long longestDelayMs = 600'000;

constexpr std::array<std::pair<std::string_view, FaultKind>, 10> kindNames{{
    {"delay", FaultKind::Delay},
    {"random_delay", FaultKind::RandomDelay},
    {"non_json", FaultKind::NonJson},
    {"refuse", FaultKind::Refuse},
    {"drop", FaultKind::Drop},
    {"lose_answer", FaultKind::LoseAnswer},
    {"success_no_message", FaultKind::SuccessNoMessage},
    {"raw", FaultKind::Raw},
    {"redirect", FaultKind::Redirect},
    {"drip", FaultKind::Drip},
}};

// Reads an optional integer key within [low, high]; returns why it is unusable.
std::optional<std::string> readInteger(const Json& description, const char* key, long long low,
                                       long long high, long long& out) {
    if (!description.contains(key)) {
        return std::nullopt;
    }
    const Json& v = description[key];
    if (!v.is_number_integer() || v.get<long long>() < low || v.get<long long>() > high) {
        return "\"" + std::string(key) + "\" must be an integer from " + std::to_string(low) + " to " +
               std::to_string(high);
    }
    out = v.get<long long>();
    return std::nullopt;
}

std::optional<std::string> readText(const Json& description, const char* key, std::string& out) {
    if (!description.contains(key)) {
        return std::nullopt;
    }
    if (!description[key].is_string()) {
        return "\"" + std::string(key) + "\" must be a string";
    }
    out = description[key].get<std::string>();
    return std::nullopt;
}

} // namespace

std::optional<std::string> FaultPlan::add(const Json& description) {
    if (!description.is_object()) {
        return "a fault must be a JSON object";
    }
    static constexpr std::array<std::string_view, 11> knownKeys{
        "action", "kind", "ms", "min_ms", "max_ms", "seed", "message", "body", "location", "length", "times"};
    for (const auto& [key, value] : description.items()) {
        if (std::find(knownKeys.begin(), knownKeys.end(), key) == knownKeys.end()) {
            return "unknown fault key \"" + key + "\"";
        }
    }
    Fault fault;
    if (!description.contains("action") || !description["action"].is_string() ||
        description["action"].get<std::string>().empty()) {
        return "a fault needs \"action\": an action name or \"*\"";
    }
    fault.action = description["action"].get<std::string>();
    const auto kind = std::find_if(kindNames.begin(), kindNames.end(), [&](const auto& k) {
        return description.contains("kind") && description["kind"] == std::string(k.first);
    });
    if (kind == kindNames.end()) {
        return "\"kind\" must be one of delay, random_delay, non_json, refuse, drop, lose_answer, "
               "success_no_message, raw, redirect, drip";
    }
    fault.kind = kind->second;
    long long seed = 1;
    long long times = 0;
    fault.maxMs = -1;
    fault.ms = -1;
    for (auto problem :
         {readInteger(description, "ms", 0, longestDelayMs, fault.ms),
          readInteger(description, "min_ms", 0, longestDelayMs, fault.minMs),
          readInteger(description, "max_ms", 0, longestDelayMs, fault.maxMs),
          readInteger(description, "seed", 0, UINT32_MAX, seed),
          readInteger(description, "times", 1, INT32_MAX, times),
          readInteger(description, "length", 0, INT64_MAX, fault.length),
          readText(description, "message", fault.message), readText(description, "body", fault.body),
          readText(description, "location", fault.location)}) {
        if (problem) {
            return problem;
        }
    }
    if (fault.kind == FaultKind::Delay && fault.ms < 0) {
        return "a delay fault needs \"ms\"";
    }
    if (fault.kind == FaultKind::RandomDelay && (fault.maxMs < 0 || fault.minMs > fault.maxMs)) {
        return "a random_delay fault needs \"max_ms\" not below \"min_ms\"";
    }
    if (fault.kind == FaultKind::Drip && fault.ms < 0) {
        return "a drip fault needs \"ms\"";
    }
    if (fault.kind == FaultKind::Raw && !description.contains("body")) {
        return "a raw fault needs \"body\"";
    }
    fault.random.seed(static_cast<std::uint32_t>(seed));
    if (times > 0) {
        fault.remaining = times;
    }
    faults_.push_back(std::move(fault));
    return std::nullopt;
}

FaultDecision FaultPlan::decide(std::string_view action) {
    FaultDecision decision;
    for (Fault& fault : faults_) {
        if (fault.action != "*" && fault.action != action) {
            continue;
        }
        if (fault.kind == FaultKind::Delay) {
            decision.delay += std::chrono::milliseconds(fault.ms);
        } else if (fault.kind == FaultKind::RandomDelay) {
            const auto span = static_cast<std::uint32_t>(fault.maxMs - fault.minMs + 1);
            decision.delay += std::chrono::milliseconds(fault.minMs + fault.random() % span);
        } else if (decision.outcome) {
            continue;
        } else {
            decision.outcome = fault.kind;
            decision.message = fault.message;
            decision.body = fault.body;
            decision.location = fault.location;
            decision.ms = std::max(fault.ms, 0LL);
            decision.length = fault.length;
        }
        if (fault.remaining) {
            --*fault.remaining;
        }
    }
    std::erase_if(faults_, [](const Fault& f) { return f.remaining && *f.remaining == 0; });
    return decision;
}

} // namespace folvane::sim
