#pragma once

#include "LenientJson.h"
#include "PendingFiles.h"
#include "tree/WebsiteInUse.h"

#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <optional>
#include <vector>

namespace folvane {

class AddonClient;
class Recovery;

// Whether the site's text of a template shows a change made elsewhere (a colleague, the CMS's own editor):
// it is none of the texts this helper knows the site to hold or may hold (`known`: the text last fetched
// or confirmed, and saves of its own whose answer never came), nor the one about to be saved. `siteText`
// holds the site's text in the forms it is compared in (as the add-on sent it, or re-encoded).
bool changedElsewhere(const std::vector<ContentDigest>& siteText, const std::vector<ContentDigest>& known,
                      const ContentDigest& saving);

// Looks at the site before a template's save goes out, so that a save never silently replaces what someone
// else changed there: it fetches the template's current text, and when someone changed it meanwhile keeps
// that text in the recovery folder (as the site's version) and tells the user. The save goes out either way:
// the user saved on purpose, and now nothing is lost on either side. Main thread only.
class SiteCheck : public QObject {
    Q_OBJECT
public:
    // `enabled` is asked before each save (the user may switch the check off at any time).
    SiteCheck(AddonClient& client, Recovery& recovery, QString mirrorFolder, std::function<bool()> enabled,
              QObject* parent = nullptr);

    struct Save {
        QString groupID, templateID;
        QString file; // the full path in the mirror
        std::vector<ContentDigest> known;
        ContentDigest saving;
    };
    // send: the save may go. retry: the site did not answer, or its changed text could not be kept: the
    // save waits and is checked again later (as a save that got no answer is sent again).
    enum class Answer { send, retry };
    // Calls `then` exactly once: at once when the check is off, else with the site's answer.
    void beforeSave(const Save& save, std::function<void(Answer)> then);

    // The site's text of a file whose save is still to come (a refresh met it): kept as the site's version
    // when someone else made it. False when it had to be kept and could not be.
    bool keepIfChangedElsewhere(const Save& save, const QByteArray& siteText);

    // The files changed on the site too in this session, each with where the site's version is kept.
    QList<PendingFile> notices() const;

signals:
    void noticesChanged();

private:
    Answer judge(const Save& save, const Json& answer);

    AddonClient& client_;
    Recovery& recovery_;
    QString mirror_;
    std::function<bool()> enabled_;
    // The site's text last kept per template: a save checked again (its answer lost) keeps it once.
    std::map<QString, ContentDigest> kept_;
    std::map<QString, QString> notices_; // volume path -> the kept copy
};

} // namespace folvane
