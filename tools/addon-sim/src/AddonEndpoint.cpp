#include "AddonEndpoint.h"

#include "Base64.h"
#include "SiteJson.h"

#include <algorithm>

namespace folvane::sim {

namespace {

const std::string badBase64 = "The template data is not valid Base64.";

Json refused(const std::string& message) {
    return {{"success", false}, {"message", message}};
}

// The usual answer of a changing action: its success message and extra keys, or the model's refusal.
AddonAnswer outcomeAnswer(const Outcome& outcome, const std::string& message, Json extra = Json::object()) {
    if (!outcome.ok()) {
        return AddonAnswer::ofJson(refused(outcome.refusal));
    }
    Json answer = {{"success", true}, {"message", message}};
    answer.update(extra);
    return AddonAnswer::ofJson(std::move(answer));
}

std::string htmlPage(const std::string& title, const std::string& text) {
    return "<!DOCTYPE html>\n<html lang=\"en\">\n<head><meta charset=\"utf-8\"><title>" + title +
           "</title></head>\n<body>\n<h1>" + title + "</h1>\n<p>" + text + "</p>\n</body>\n</html>\n";
}

} // namespace

AddonAnswer AddonAnswer::ofJson(Json json) {
    AddonAnswer answer;
    answer.json = std::move(json);
    return answer;
}

AddonAnswer AddonAnswer::raw(std::string bytes) {
    AddonAnswer answer;
    answer.text = std::move(bytes);
    return answer;
}

AddonAnswer AddonAnswer::page(int status, std::string html) {
    AddonAnswer answer;
    answer.status = status;
    answer.text = std::move(html);
    answer.contentType = "text/html; charset=UTF-8";
    return answer;
}

AddonAnswer notFoundPage() {
    return AddonAnswer::page(404, htmlPage("Page Not Found", "The page you requested was not found."));
}

AddonAnswer serverErrorPage() {
    return AddonAnswer::page(
        500, htmlPage("Internal Server Error",
                      "<b>Fatal error</b>: Allowed memory size of 134217728 bytes exhausted in "
                      "<b>/var/www/html/index.php</b> on line <b>42</b>"));
}

AddonEndpoint::AddonEndpoint(Site& site, const SimConfig& config, SessionBook& sessions,
                             const std::optional<std::string>& listAllRaw)
    : site_(site), config_(config), sessions_(sessions), listAllRaw_(listAllRaw) {}

const std::vector<AddonEndpoint::Action>& AddonEndpoint::actions() {
    static const std::vector<Action> table{
        {"status", "GET", &AddonEndpoint::status, false, {}},
        {"login", "POST", &AddonEndpoint::login, false, {"username", "password"}},
        {"logout", "GET", &AddonEndpoint::logout, true, {}},
        {"list_all", "GET", &AddonEndpoint::listAll, true, {}},
        {"get_template", "POST", &AddonEndpoint::getTemplate, true, {"template_group_id", "template_id"}},
        {"update_template_data",
         "POST",
         &AddonEndpoint::updateTemplateData,
         true,
         {"template_group_id", "template_id", "template_data"}},
        {"create_template",
         "POST",
         &AddonEndpoint::createTemplate,
         true,
         {"template_group_id", "template_name", "template_data"}},
        {"create_template_group",
         "POST",
         &AddonEndpoint::createTemplateGroup,
         true,
         {"template_group_name", "template_group_id"}},
        {"delete_template",
         "POST",
         &AddonEndpoint::deleteTemplate,
         true,
         {"template_group_id", "template_id"}},
        {"delete_template_group", "POST", &AddonEndpoint::deleteTemplateGroup, true, {"template_group_id"}},
        {"rename_template",
         "POST",
         &AddonEndpoint::renameTemplate,
         true,
         {"template_id", "template_name", "template_group_id"}},
        {"rename_template_group",
         "POST",
         &AddonEndpoint::renameTemplateGroup,
         true,
         {"template_group_id", "template_group_name"}},
        {"move_template",
         "POST",
         &AddonEndpoint::moveTemplate,
         true,
         {"from_group_id", "to_group_id", "template_id", "template_name"}},
        {"move_template_group",
         "POST",
         &AddonEndpoint::moveTemplateGroup,
         true,
         {"template_group_id", "to_group_id"}},
    };
    return table;
}

AddonAnswer AddonEndpoint::respond(const AddonRequest& request) {
    const auto& table = actions();
    const auto action = std::find_if(table.begin(), table.end(), [&](const Action& a) {
        return request.action && a.name == *request.action && a.method == request.method;
    });
    if (action == table.end()) {
        return notFoundPage();
    }
    if (action->needsSession && config_.requireSession && site_.model.cms() == Cms::ExpressionEngine &&
        !(request.sessionId && sessions_.isCurrent(*request.sessionId))) {
        return refusal(request, "Session expired.");
    }
    for (std::string_view field : action->requiredFields) {
        if (!request.form.find(field)) {
            return refusal(request, "The request lacks the field \"" + std::string(field) + "\".");
        }
    }
    return (this->*action->handler)(request.form);
}

AddonAnswer AddonEndpoint::refusal(const AddonRequest& request, const std::string& message) {
    if (request.action == "login") {
        return AddonAnswer::ofJson({{"logged_in", false}, {"message", message}});
    }
    return AddonAnswer::ofJson(refused(message));
}

Json AddonEndpoint::id(const std::string& value) const {
    return idJson(site_.model.cms(), value);
}

AddonAnswer AddonEndpoint::status(const FormFields&) {
    const char* cms = site_.model.cms() == Cms::ExpressionEngine ? "ExpressionEngine" : "Wordpress";
    return AddonAnswer::ofJson({{"status", config_.status},
                                {"cms", config_.cmsText.value_or(cms)},
                                {"addon_version", config_.addonVersion.value_or(site_.profile.addonVersion)},
                                {"version", config_.version.value_or(site_.profile.version)}});
}

AddonAnswer AddonEndpoint::login(const FormFields& form) {
    const bool accepted = !config_.refuseLogin && form.value("username") == site_.profile.user &&
                          form.value("password") == site_.profile.password;
    if (!accepted) {
        return AddonAnswer::ofJson(
            {{"logged_in", false},
             {"message", config_.loginMessage.value_or("Invalid username or password.")}});
    }
    Json answer = {{"logged_in", true}};
    if (!config_.omitPermissions) {
        answer["permissions"] = config_.permissions;
    }
    const std::string session = sessions_.open();
    if (site_.model.cms() == Cms::ExpressionEngine) {
        answer["session_id"] = session;
    }
    AddonAnswer result = AddonAnswer::ofJson(std::move(answer));
    result.setCookie = "folvane_session=" + session + "; Path=/; HttpOnly";
    return result;
}

AddonAnswer AddonEndpoint::logout(const FormFields&) {
    return AddonAnswer::ofJson(config_.omitLoggedInOnLogout ? Json::object() : Json{{"logged_in", false}});
}

AddonAnswer AddonEndpoint::listAll(const FormFields&) {
    return listAllRaw_ ? AddonAnswer::raw(*listAllRaw_) : AddonAnswer::ofJson(listAllJson(site_.model));
}

AddonAnswer AddonEndpoint::getTemplate(const FormFields& form) {
    const Outcome located =
        site_.model.locateTemplate(form.value("template_group_id"), form.value("template_id"));
    if (!located.ok()) {
        return AddonAnswer::ofJson(refused(located.refusal));
    }
    const Template* t = site_.model.findTemplate(located.id);
    return AddonAnswer::ofJson(
        {{"success", true},
         {"template", {{"id", id(t->id)}, {"name", t->name}, {"data", base64Encode(t->content)}}}});
}

AddonAnswer AddonEndpoint::updateTemplateData(const FormFields& form) {
    auto content = base64Decode(form.value("template_data"));
    if (!content) {
        return AddonAnswer::ofJson(refused(badBase64));
    }
    return outcomeAnswer(site_.model.updateTemplate(form.value("template_group_id"),
                                                    form.value("template_id"), std::move(*content)),
                         "Template updated.");
}

AddonAnswer AddonEndpoint::createTemplate(const FormFields& form) {
    auto content = base64Decode(form.value("template_data"));
    if (!content) {
        return AddonAnswer::ofJson(refused(badBase64));
    }
    const Outcome created = site_.model.createTemplate(form.value("template_group_id"),
                                                       form.value("template_name"), std::move(*content));
    return outcomeAnswer(created, "Template created.", {{"template", {{"id", id(created.id)}}}});
}

AddonAnswer AddonEndpoint::createTemplateGroup(const FormFields& form) {
    const Outcome created =
        site_.model.createGroup(form.value("template_group_id"), form.value("template_group_name"));
    return outcomeAnswer(created, "Template group created.",
                         {{"template_group", {{"id", id(created.id)}, {"is_special", false}}}});
}

AddonAnswer AddonEndpoint::deleteTemplate(const FormFields& form) {
    return outcomeAnswer(
        site_.model.deleteTemplate(form.value("template_group_id"), form.value("template_id")),
        "Template deleted.");
}

AddonAnswer AddonEndpoint::deleteTemplateGroup(const FormFields& form) {
    return outcomeAnswer(site_.model.deleteGroup(form.value("template_group_id")), "Template group deleted.");
}

AddonAnswer AddonEndpoint::renameTemplate(const FormFields& form) {
    const std::string group = form.value("template_group_id");
    const Outcome renamed =
        site_.model.moveTemplate(group, group, form.value("template_id"), form.value("template_name"));
    return outcomeAnswer(renamed, "Template renamed.", {{"template", {{"id", id(renamed.id)}}}});
}

AddonAnswer AddonEndpoint::renameTemplateGroup(const FormFields& form) {
    const Outcome renamed =
        site_.model.renameGroup(form.value("template_group_id"), form.value("template_group_name"));
    return outcomeAnswer(renamed, "Template group renamed.", {{"template_group", {{"id", id(renamed.id)}}}});
}

AddonAnswer AddonEndpoint::moveTemplate(const FormFields& form) {
    const Outcome moved = site_.model.moveTemplate(form.value("from_group_id"), form.value("to_group_id"),
                                                   form.value("template_id"), form.value("template_name"));
    return outcomeAnswer(moved, "Template moved.", {{"template", {{"id", id(moved.id)}}}});
}

AddonAnswer AddonEndpoint::moveTemplateGroup(const FormFields& form) {
    const Outcome moved = site_.model.moveGroup(form.value("template_group_id"), form.value("to_group_id"));
    return outcomeAnswer(moved, "Template group moved.", {{"template_group", {{"id", id(moved.id)}}}});
}

} // namespace folvane::sim
