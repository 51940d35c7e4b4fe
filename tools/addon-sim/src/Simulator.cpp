#include "Simulator.h"

#include "SiteJson.h"

namespace folvane::sim {

Simulator::Simulator(SiteSeed initialSeed, SiteDefaults defaults)
    : initialSeed_(std::move(initialSeed)), defaults_(std::move(defaults)),
      site_(initialSeed_.build(defaults_)) {}

Cms Simulator::cms() const {
    const std::lock_guard lock(mutex_);
    return site_.model.cms();
}

FaultDecision Simulator::admit(const AddonRequest& request) {
    const std::lock_guard lock(mutex_);
    log_.append(request);
    return faults_.decide(request.action.value_or(""));
}

AddonAnswer Simulator::answer(const AddonRequest& request, const FaultDecision& decision) {
    const std::lock_guard lock(mutex_);
    if (decision.outcome == FaultKind::NonJson) {
        return serverErrorPage();
    }
    if (decision.outcome == FaultKind::Refuse) {
        return AddonEndpoint::refusal(request, decision.message.empty() ? "The add-on refused the request."
                                                                        : decision.message);
    }
    if (decision.outcome == FaultKind::Raw) {
        return AddonAnswer::raw(decision.body);
    }
    AddonAnswer answer = AddonEndpoint(site_, config_, sessions_, listAllRaw_).respond(request);
    if (decision.outcome == FaultKind::SuccessNoMessage && answer.json && answer.json->is_object()) {
        answer.json->erase("message");
    }
    return answer;
}

Json Simulator::state() const {
    const std::lock_guard lock(mutex_);
    return stateJson(site_.model);
}

Json Simulator::log() const {
    const std::lock_guard lock(mutex_);
    return log_.toJson();
}

void Simulator::clearLog() {
    const std::lock_guard lock(mutex_);
    log_.clear();
}

void Simulator::reset() {
    Site initial = initialSeed_.build(defaults_); // built once at start-up already, so it cannot throw here
    const std::lock_guard lock(mutex_);
    site_ = std::move(initial);
    config_ = {};
    faults_.clear();
    log_.clear();
    sessions_.clear();
    listAllRaw_.reset();
}

std::optional<std::string> Simulator::seed(std::string_view seedText) {
    try {
        Site site = SiteSeed::fromText(seedText).build(defaults_);
        const std::lock_guard lock(mutex_);
        site_ = std::move(site);
    } catch (const SeedError& e) {
        return e.what();
    }
    return std::nullopt;
}

std::optional<std::string> Simulator::editTemplate(const Json& edit) {
    if (!edit.is_object() || !edit.contains("path") || !edit["path"].is_string() ||
        !edit.contains("content") || !edit["content"].is_string())
        return "an edit is {\"path\": text, \"content\": text}";
    const std::lock_guard lock(mutex_);
    const Outcome changed =
        editTemplateAt(site_.model, edit["path"].get<std::string>(), edit["content"].get<std::string>());
    return changed.ok() ? std::nullopt : std::optional(changed.refusal);
}

std::optional<std::string> Simulator::configure(const Json& changes) {
    const std::lock_guard lock(mutex_);
    return config_.merge(changes);
}

std::optional<std::string> Simulator::addFault(const Json& fault) {
    const std::lock_guard lock(mutex_);
    return faults_.add(fault);
}

void Simulator::clearFaults() {
    const std::lock_guard lock(mutex_);
    faults_.clear();
}

void Simulator::setListAllRaw(std::string bytes) {
    const std::lock_guard lock(mutex_);
    listAllRaw_ = std::move(bytes);
}

void Simulator::clearListAllRaw() {
    const std::lock_guard lock(mutex_);
    listAllRaw_.reset();
}

} // namespace folvane::sim
