#include "RequestLog.h"

#include "Base64.h"

namespace folvane::sim {

namespace {

Json textOrNull(const std::optional<std::string>& text) {
    return text ? Json(*text) : Json();
}

} // namespace

void RequestLog::append(const AddonRequest& request) {
    Json form = Json::object();
    for (const auto& [key, value] : request.form.pairs()) {
        form[key] = value;
    }
    Json entry = {{"seq", nextSeq_++},
                  {"method", request.method},
                  {"path", request.path},
                  {"query", request.query},
                  {"action", textOrNull(request.action)},
                  {"session_id", textOrNull(request.sessionId)},
                  {"cookie", textOrNull(request.cookie)},
                  {"form", std::move(form)}};
    if (const std::string* data = request.form.find("template_data")) {
        if (const auto content = base64Decode(*data)) {
            entry["content"] = *content;
        }
    }
    entry["body"] = request.body;
    entries_.push_back(std::move(entry));
}

Json RequestLog::toJson() const {
    return Json(entries_);
}

void RequestLog::clear() {
    entries_.clear();
    nextSeq_ = 1;
}

} // namespace folvane::sim
