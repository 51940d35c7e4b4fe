#include "ControlApi.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <tuple>
#include <vector>

namespace folvane::sim {

namespace {

ControlReply ok() {
    return {200, {{"ok", true}}};
}

ControlReply error(int status, const std::string& message) {
    return {status, {{"error", message}}};
}

// The result of a command that may refuse its input.
ControlReply checked(const std::optional<std::string>& problem) {
    return problem ? error(400, *problem) : ok();
}

std::optional<Json> parseJson(std::string_view body) {
    try {
        return Json::parse(body);
    } catch (const Json::parse_error&) {
        return std::nullopt;
    }
}

} // namespace

ControlReply ControlApi::handle(std::string_view method, std::string_view path, std::string_view body) {
    using Command = std::function<ControlReply()>;
    const auto withJson = [body](const std::function<std::optional<std::string>(const Json&)>& use) {
        const auto json = parseJson(body);
        return json ? checked(use(*json)) : error(400, "the request body is not valid JSON");
    };
    Simulator& sim = simulator_;
    const std::vector<std::tuple<std::string_view, std::string_view, Command>> routes{
        {"GET", "state",
         [&] {
             return ControlReply{200, sim.state()};
         }},
        {"GET", "log",
         [&] {
             return ControlReply{200, sim.log()};
         }},
        {"POST", "log/clear",
         [&] {
             sim.clearLog();
             return ok();
         }},
        {"POST", "reset",
         [&] {
             sim.reset();
             return ok();
         }},
        {"POST", "seed", [&] { return checked(sim.seed(body)); }},
        {"POST", "config", [&] { return withJson([&](const Json& j) { return sim.configure(j); }); }},
        {"POST", "edit", [&] { return withJson([&](const Json& j) { return sim.editTemplate(j); }); }},
        {"POST", "fault", [&] { return withJson([&](const Json& j) { return sim.addFault(j); }); }},
        {"POST", "faults/clear",
         [&] {
             sim.clearFaults();
             return ok();
         }},
        {"POST", "list_all_raw",
         [&] {
             sim.setListAllRaw(std::string(body));
             return ok();
         }},
        {"POST", "list_all_raw/clear",
         [&] {
             sim.clearListAllRaw();
             return ok();
         }},
    };
    const std::string_view name = path.substr(std::min(path.size(), prefix.size()));
    for (const auto& [routeMethod, routeName, command] : routes) {
        if (routeName == name) {
            return routeMethod == method
                       ? command()
                       : error(405, "use " + std::string(routeMethod) + " for " + std::string(path));
        }
    }
    return error(404, "unknown control path " + std::string(path));
}

} // namespace folvane::sim
