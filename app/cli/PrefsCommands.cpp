#include "Commands.h"
#include "Console.h"

#include "Paths.h"
#include "TextBool.h"
#include "core/SharedPreferences.h"

#include <utility>
#include <vector>

namespace folvane::cli {

namespace {

// Short names for the check-box titles the preferences are stored under.
const std::vector<std::pair<QString, QString>>& names() {
    static const std::vector<std::pair<QString, QString>> table = {
        {QStringLiteral("notifications"), SharedPreferences::enableNotifications},
        {QStringLiteral("open-file-browser"), SharedPreferences::openFinderWindowOnConnect},
        {QStringLiteral("default-group-alert"), SharedPreferences::alertDefaultGroupNotSet},
        {QStringLiteral("caching"), SharedPreferences::enableCaching},
        {QStringLiteral("check-site"), SharedPreferences::checkSiteBeforeSave},
        {QStringLiteral("check-updates"), SharedPreferences::autoCheckUpdates},
        {QStringLiteral("usage-data"), SharedPreferences::sendDataUsage},
    };
    return table;
}

std::optional<QString> titleNamed(const QString& name) {
    for (const auto& [shortName, title] : names())
        if (shortName == name)
            return title;
    QStringList known;
    for (const auto& entry : names())
        known << entry.first;
    console::error(
        QStringLiteral("unknown preference \"%1\" (one of: %2)").arg(name, known.join(QStringLiteral(", "))));
    return std::nullopt;
}

struct Preferences {
    Preferences() : store(paths::supportFolder()) {
        if (!store.keptAsidePath().isEmpty())
            console::error(QStringLiteral("the preferences could not be read; they were kept as %1")
                               .arg(store.keptAsidePath()));
    }
    SharedPreferences store;
};

} // namespace

int prefsGet(const CommandLine& command) {
    if (command.words.size() > 1) {
        console::error(QStringLiteral("prefs get takes at most one NAME (see folvane3 --help)"));
        return exitUsage;
    }
    std::optional<QString> only;
    if (!command.words.isEmpty() && !(only = titleNamed(command.words.at(0))))
        return exitUsage;
    Preferences preferences;
    for (const auto& [name, title] : names()) {
        if (only && title != *only)
            continue;
        const std::optional<qint64> value = preferences.store.value(title);
        const QString shown = !value   ? QStringLiteral("unset")
                              : *value ? QStringLiteral("on")
                                       : QStringLiteral("off");
        console::out(only ? shown : name.leftJustified(21) + shown);
    }
    return exitOk;
}

int prefsSet(const CommandLine& command) {
    const std::optional<QString> title = titleNamed(command.words.at(0));
    if (!title)
        return exitUsage;
    const QString given = command.words.at(1).toLower();
    const bool on = given == QStringLiteral("on") || textBoolValue(given);
    if (!on && given != QStringLiteral("off") && given != QStringLiteral("0") &&
        given != QStringLiteral("no") && given != QStringLiteral("false")) {
        console::error(
            QStringLiteral("a preference is set \"on\" or \"off\", not \"%1\"").arg(command.words.at(1)));
        return exitUsage;
    }
    Preferences preferences;
    if (!preferences.store.changePreference(*title, on ? 1 : 0)) {
        console::error(preferences.store.lastError());
        return exitFailed;
    }
    return exitOk;
}

} // namespace folvane::cli
