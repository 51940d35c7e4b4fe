#pragma once

#include "AddonRequest.h"
#include "Json.h"
#include "SessionBook.h"
#include "SimConfig.h"
#include "SiteSeed.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace folvane::sim {

// An answer of the add-on's URL space. JSON answers stay structured until they are sent, so a fault can still
// take a key out.
struct AddonAnswer {
    int status = 200;
    std::optional<Json> json;
    std::string text; // the body when there is no JSON
    std::string contentType = "application/json; charset=UTF-8";
    std::optional<std::string> setCookie;

    std::string body() const { return json ? dumpJson(*json) : text; }

    static AddonAnswer ofJson(Json json);
    static AddonAnswer raw(std::string bytes);
    static AddonAnswer page(int status, std::string html);
};

// What a web server sends for a URL the add-on does not serve.
AddonAnswer notFoundPage();
// What a broken PHP site sends instead of the add-on's JSON.
AddonAnswer serverErrorPage();

// The add-on's actions over one site: checks the request, carries the action out and builds the answer.
class AddonEndpoint {
public:
    AddonEndpoint(Site& site, const SimConfig& config, SessionBook& sessions,
                  const std::optional<std::string>& listAllRaw);

    AddonAnswer respond(const AddonRequest& request);

    // The add-on's refusal of the request, in the shape its action uses (login: "logged_in" false).
    static AddonAnswer refusal(const AddonRequest& request, const std::string& message);

private:
    AddonAnswer status(const FormFields& form);
    AddonAnswer login(const FormFields& form);
    AddonAnswer logout(const FormFields& form);
    AddonAnswer listAll(const FormFields& form);
    AddonAnswer getTemplate(const FormFields& form);
    AddonAnswer updateTemplateData(const FormFields& form);
    AddonAnswer createTemplate(const FormFields& form);
    AddonAnswer createTemplateGroup(const FormFields& form);
    AddonAnswer deleteTemplate(const FormFields& form);
    AddonAnswer deleteTemplateGroup(const FormFields& form);
    AddonAnswer renameTemplate(const FormFields& form);
    AddonAnswer renameTemplateGroup(const FormFields& form);
    AddonAnswer moveTemplate(const FormFields& form);
    AddonAnswer moveTemplateGroup(const FormFields& form);

    Json id(const std::string& value) const;

    struct Action {
        std::string_view name;
        std::string_view method;
        AddonAnswer (AddonEndpoint::*handler)(const FormFields&);
        bool needsSession;
        std::vector<std::string_view> requiredFields;
    };
    static const std::vector<Action>& actions();

    Site& site_;
    const SimConfig& config_;
    SessionBook& sessions_;
    const std::optional<std::string>& listAllRaw_;
};

} // namespace folvane::sim
