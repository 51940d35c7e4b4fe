#pragma once

#include "FormCodec.h"
#include "SiteModel.h"

#include <optional>
#include <string>
#include <string_view>

namespace folvane::sim {

// One request to the add-on's URL space, with what the URL rules of the site's CMS make of it.
struct AddonRequest {
    std::string method;
    std::string path;  // as sent, without the query
    std::string query; // as sent
    std::string body;
    std::optional<std::string> cookie;
    std::optional<std::string> action;    // absent when the URL names none
    std::optional<std::string> sessionId; // from an ExpressionEngine "/S=<id>/" path segment
    FormFields form;                      // the fields of the POST body

    static AddonRequest parse(Cms cms, std::string method, std::string_view target, std::string body,
                              std::optional<std::string> cookie);
};

// The URL the client is configured with; it appends "&m=<action>" (ExpressionEngine) or "/<action>"
// (WordPress).
std::string addonBaseUrl(Cms cms, std::string_view host, int port);

// ExpressionEngine: the query parameter "m", on any path. WordPress: the last path segment below the base
// path.
std::optional<std::string> actionOf(Cms cms, std::string_view path, std::string_view query);

std::optional<std::string> sessionIdOf(std::string_view path);

} // namespace folvane::sim
