#pragma once

#include "LenientJson.h"

#include <QByteArrayView>
#include <QString>
#include <functional>
#include <optional>

namespace folvane {

class RecordTree;

// What the add-on answered to one template or group request.
struct AddonResult {
    bool transportFailed = false; // no answer at all: the request may be sent again
    bool success = false;         // the add-on answered "success" true
    // The identifier of what was created, or the new identifier of what was moved, when the answer
    // carried one (the two CMSs spell them differently; see the client).
    std::optional<QString> id;
    std::optional<bool> isSpecial;  // a created group's "is_special"
    std::optional<QString> message; // the add-on's own words about it, when it sent any
};

// The requests the synchronisation sends to the site's add-on. Every request returns at once; its answer
// comes on the main thread, where `done` is called exactly once whatever the answer said. Contents travel
// as standard Base64 text.
class AddonClient {
public:
    using Done = std::function<void(const AddonResult&)>;

    virtual ~AddonClient() = default;

    virtual void createTemplate(const QString& groupID, const QString& name, const QString& data,
                                Done done) = 0;
    virtual void updateTemplate(const QString& groupID, const QString& templateID, const QString& data,
                                Done done) = 0;
    // A rename is a move within one group.
    virtual void moveTemplate(const QString& templateID, const QString& name, const QString& fromGroupID,
                              const QString& toGroupID, Done done) = 0;
    virtual void deleteTemplate(const QString& groupID, const QString& templateID, Done done) = 0;
    virtual void createGroup(const QString& name, const QString& parentGroupID, Done done) = 0;
    virtual void renameGroup(const QString& groupID, const QString& name, Done done) = 0;
    // Moves the group under another parent, keeping its name.
    virtual void moveGroup(const QString& groupID, const QString& toParentGroupID, Done done) = 0;
    virtual void deleteGroup(const QString& groupID, Done done) = 0;
    // "get_template": the parsed answer (an empty value when there was none).
    virtual void getTemplate(const QString& groupID, const QString& templateID,
                             std::function<void(const Json&)> done) = 0;
    // How a download of the template list ended.
    enum class ListTransfer { notLoggedIn, broken, arrived };
    // Logs in and downloads the whole template list, handing its bytes to `sink` as they arrive (none of
    // it is kept: a big site's list need not fit in memory), and waits for its end (events keep flowing
    // meanwhile). Nothing is handed over when the login failed; a transfer that broke off has handed over
    // what arrived. A wait given up (the helper ending) leaves the transfer running, so the sink must own
    // what it writes to.
    virtual ListTransfer streamTemplateList(const std::function<void(QByteArrayView)>& sink) = 0;
    // Warns, as after every download of the list, when the records built from it hold no default group.
    virtual void checkDefaultGroup(const RecordTree& records) = 0;
};

} // namespace folvane
