#pragma once

#include "Cms.h"

#include <QString>
#include <optional>

namespace folvane {

// The text between the base URL and an action name: "&m=" for ExpressionEngine (the base carries a
// query string), "/" for WordPress, nothing when the CMS is not known.
QString queryDividerFor(CMS cms);

// base + divider + action, as plain text: nothing is escaped or inserted.
inline QString actionUrl(const QString& base, const QString& divider, const QString& action) {
    return base + divider + action;
}

// The action URL of every request the helper sends, for one base URL and divider.
struct ActionUrls {
    QString getStatus, getLogin, getTemplates, getNewTemplate, updateTemplate, createTemplate, renameTemplate,
        deleteTemplate, deleteTemplateGroup, createTemplateGroup, renameTemplateGroup, moveTemplateGroup,
        moveTemplate;
};
ActionUrls actionUrlsFor(const QString& base, const QString& divider);

// The ExpressionEngine session form of a base URL: scheme://host[:port]/S=<id>/?<query>. The old
// path, user and fragment are dropped; an explicit port is kept so the requests still reach the same
// server. No value when the URL does not parse or lacks a scheme, host or query.
std::optional<QString> sessionRewrittenUrl(const QString& url, const QString& sessionId);

} // namespace folvane
