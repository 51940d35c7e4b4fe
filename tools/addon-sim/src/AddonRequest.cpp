#include "AddonRequest.h"

#include <vector>

namespace folvane::sim {

namespace {

constexpr std::string_view eePath = "/admin.php";
constexpr std::string_view eeQuery = "D=cp&C=addons_modules&M=show_module_cp&module=folvane";
constexpr std::string_view wpPath = "/wp-json/folvane/v1";

// The path's segments between slashes, empty ones skipped.
std::vector<std::string_view> segments(std::string_view path) {
    std::vector<std::string_view> parts;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        if (!part.empty()) {
            parts.push_back(part);
        }
        path = slash == std::string_view::npos ? std::string_view{} : path.substr(slash + 1);
    }
    return parts;
}

} // namespace

std::string addonBaseUrl(Cms cms, std::string_view host, int port) {
    // A literal IPv6 address needs brackets in a URL.
    const std::string hostPart =
        host.find(':') == std::string_view::npos ? std::string(host) : "[" + std::string(host) + "]";
    const std::string origin = "http://" + hostPart + ":" + std::to_string(port);
    if (cms == Cms::ExpressionEngine) {
        return origin + std::string(eePath) + "?" + std::string(eeQuery);
    }
    return origin + std::string(wpPath);
}

std::optional<std::string> actionOf(Cms cms, std::string_view path, std::string_view query) {
    if (cms == Cms::ExpressionEngine) {
        const FormFields fields = FormFields::parse(query);
        const std::string* action = fields.find("m");
        return action ? std::optional<std::string>(*action) : std::nullopt;
    }
    const std::string decoded = percentDecode(path, false);
    if (!decoded.starts_with(std::string(wpPath) + "/")) {
        return std::nullopt;
    }
    const auto below = segments(std::string_view(decoded).substr(wpPath.size()));
    return below.empty() ? std::nullopt : std::optional<std::string>(below.back());
}

std::optional<std::string> sessionIdOf(std::string_view path) {
    for (std::string_view part : segments(path)) {
        if (part.starts_with("S=")) {
            return percentDecode(part.substr(2), false);
        }
    }
    return std::nullopt;
}

AddonRequest AddonRequest::parse(Cms cms, std::string method, std::string_view target, std::string body,
                                 std::optional<std::string> cookie) {
    const std::size_t mark = target.find('?');
    AddonRequest request;
    request.method = std::move(method);
    request.path = std::string(target.substr(0, mark));
    request.query = mark == std::string_view::npos ? std::string() : std::string(target.substr(mark + 1));
    request.form = FormFields::parse(body);
    request.body = std::move(body);
    request.cookie = std::move(cookie);
    request.action = actionOf(cms, request.path, request.query);
    request.sessionId = sessionIdOf(request.path);
    return request;
}

} // namespace folvane::sim
