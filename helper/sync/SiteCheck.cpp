#include "SiteCheck.h"

#include "ConsoleLog.h"
#include "Recovery.h"
#include "addon/AddonClient.h"

#include <algorithm>

namespace folvane {

bool changedElsewhere(const std::vector<ContentDigest>& siteText, const std::vector<ContentDigest>& known,
                      const ContentDigest& saving) {
    return std::none_of(siteText.begin(), siteText.end(), [&](const ContentDigest& site) {
        return site == saving || std::find(known.begin(), known.end(), site) != known.end();
    });
}

SiteCheck::SiteCheck(AddonClient& client, Recovery& recovery, QString mirrorFolder,
                     std::function<bool()> enabled, QObject* parent)
    : QObject(parent), client_(client), recovery_(recovery), mirror_(std::move(mirrorFolder)),
      enabled_(std::move(enabled)) {}

void SiteCheck::beforeSave(const Save& save, std::function<void(Answer)> then) {
    if (!enabled_())
        return then(Answer::send);
    client_.getTemplate(save.groupID, save.templateID, [this, save, then](const Json& answer) {
        // No answer (or none that is JSON): the site is out of reach, and the save could not go either.
        if (answer.is_null() || answer.is_discarded()) {
            logLine(QStringLiteral("No answer when checking the site's text of ") +
                    save.file.mid(mirror_.size()) + QStringLiteral("; the save waits"));
            return then(Answer::retry);
        }
        then(judge(save, answer));
    });
}

SiteCheck::Answer SiteCheck::judge(const Save& save, const Json& answer) {
    const QString path = save.file.mid(mirror_.size());
    const Json* item = member(answer, "template");
    const std::optional<QString> data = item ? stringValue(*item, "data") : std::nullopt;
    const auto cannotCheck = [&](const QString& why) {
        // The site answered but showed no usable text (the template is gone there, say): the save's own
        // answer decides what becomes of it.
        logLine(QStringLiteral("Could not check the site's text of ") + path + QStringLiteral(": ") + why);
        return Answer::send;
    };
    if (!data)
        return cannotCheck(
            stringValue(answer, "message").value_or(QStringLiteral("no template in the answer")));
    // Mostly the site holds a known text in the form it was sent or listed in: nothing to decode then.
    const QByteArray encoded = data->toLatin1();
    if (!changedElsewhere({ContentDigest::ofBase64(encoded)}, save.known, save.saving))
        return Answer::send;
    const auto decoded = QByteArray::fromBase64Encoding(encoded, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded)
        return cannotCheck(QStringLiteral("its text is not Base64"));
    // Saving now would replace the only copy of the other side's text.
    return keepIfChangedElsewhere(save, *decoded) ? Answer::send : Answer::retry;
}

bool SiteCheck::keepIfChangedElsewhere(const Save& save, const QByteArray& siteText) {
    const ContentDigest digest = ContentDigest::ofContent(siteText);
    if (!changedElsewhere({digest}, save.known, save.saving))
        return true;
    if (const auto kept = kept_.find(save.templateID); kept != kept_.end() && kept->second == digest)
        return true; // kept when this save was checked before
    const QString copy = recovery_.keepSiteVersion(save.file, siteText);
    if (copy.isEmpty())
        return false;
    kept_[save.templateID] = digest;
    notices_[save.file.mid(mirror_.size())] = copy;
    emit noticesChanged();
    return true;
}

QList<PendingFile> SiteCheck::notices() const {
    QList<PendingFile> files;
    for (const auto& [path, copy] : notices_)
        files.append(PendingFile{path, PendingFile::State::changedOnSite, {}, copy});
    return files;
}

} // namespace folvane
