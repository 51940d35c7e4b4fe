#include "SharedPreferences.h"

#include <algorithm>
#include <cstdlib>

namespace folvane {

const std::vector<std::pair<QString, qint64>>& SharedPreferences::defaults() {
    static const std::vector<std::pair<QString, qint64>> initialStates = {
        {openFinderWindowOnConnect, 1}, {sendDataUsage, 0},    {alertDefaultGroupNotSet, 1},
        {enableNotifications, 1},       {autoCheckUpdates, 1}, {enableCaching, 1},
        {checkSiteBeforeSave, 1},
    };
    return initialStates;
}

SharedPreferences::SharedPreferences(const QString& folder)
    : file_(folder, QStringLiteral("preferences.plist")) {
    readOrCreate();
    watch_ = std::make_unique<PropertyListWatch>(file_, [this] { reloadIfChanged(); });
}

void SharedPreferences::readOrCreate() {
    const auto lacksDefaults = [this] {
        return std::any_of(defaults().begin(), defaults().end(),
                           [this](const auto& entry) { return !isPrefInList(entry.first); });
    };
    if (preferencesFileExists() && (!loadFromFile() || !lacksDefaults()))
        return;
    // A first start, or a file from an older version or edited by hand that lacks some: each takes its
    // default, the state the pane shows for it, so that the helpers are started with what the user sees.
    // Read again under the lock: the other program may have just written the file.
    const auto lock = file_.lock();
    if (!lock || (preferencesFileExists() && !loadFromFile()))
        return;
    bool completed = !preferencesFileExists();
    for (const auto& [title, state] : defaults())
        completed |= preferences_.emplace(title, state).second;
    if (completed)
        writeFile();
}

SharedPreferences::~SharedPreferences() = default;

bool SharedPreferences::reloadIfChanged() {
    if (file_.stamp() == knownStamp_)
        return false;
    {
        const auto lock = file_.lock();
        if (!lock || !loadFromFile())
            return false;
    }
    if (delegate)
        delegate->updatePreferences();
    return true;
}

bool SharedPreferences::isPrefInList(const QString& title) const {
    return preferences_.count(title) > 0;
}

std::optional<qint64> SharedPreferences::value(const QString& title) const {
    const auto it = preferences_.find(title);
    return it == preferences_.end() ? std::nullopt : std::optional(it->second);
}

QString SharedPreferences::strPreferences(const QString& title) const {
    const auto stored = value(title);
    return stored ? QString::number(*stored) : QString();
}

bool SharedPreferences::changePreference(const QString& title, qint64 newValue) {
    const auto lock = file_.lock();
    if (!lock)
        return false;
    // The change goes onto what the file holds now: the other program may have changed another one.
    if (preferencesFileExists())
        loadFromFile();
    const std::optional<qint64> previous = value(title);
    preferences_[title] = newValue;
    if (!writeFile()) {
        if (previous)
            preferences_[title] = *previous;
        else
            preferences_.erase(title);
        return false;
    }
    if (delegate)
        delegate->updatePreferences();
    return true;
}

bool SharedPreferences::createPreferencesFile() {
    return file_.prepareFirstSave(QStringLiteral("SiteListManager: Creating preferences files"));
}

bool SharedPreferences::saveToFile() {
    const auto lock = file_.lock();
    return lock && writeFile();
}

bool SharedPreferences::writeFile() {
    if (!createPreferencesFile())
        return false;
    const bool saved = file_.save(archive(preferences_).get());
    knownStamp_ = file_.stamp();
    return saved;
}

Plist SharedPreferences::archive(const std::map<QString, qint64>& preferences) {
    // libplist keeps integers unsigned; a negative value round-trips as its bit pattern.
    Plist root(plist_new_dict());
    for (const auto& [title, state] : preferences)
        plist_dict_set_item(root.get(), title.toUtf8().constData(),
                            plist_new_uint(static_cast<uint64_t>(state)));
    return root;
}

bool SharedPreferences::loadFromFile() {
    knownStamp_ = file_.stamp();
    const Plist root = file_.load();
    if (!root)
        return false;
    auto loaded = preferencesFrom(root.get());
    if (!loaded) {
        file_.keepAside();
        return false;
    }
    preferences_ = std::move(*loaded);
    return true;
}

std::optional<std::map<QString, qint64>> SharedPreferences::preferencesFrom(plist_t root) {
    std::map<QString, qint64> loaded;
    bool readable = plist_get_node_type(root) == PLIST_DICT;
    plist_dict_iter iter = nullptr;
    if (readable)
        plist_dict_new_iter(root, &iter);
    while (readable) {
        char* key = nullptr;
        plist_t node = nullptr;
        plist_dict_next_item(root, iter, &key, &node);
        if (!node)
            break;
        readable = plist_get_node_type(node) == PLIST_UINT;
        uint64_t state = 0;
        if (readable)
            plist_get_uint_val(node, &state);
        loaded[QString::fromUtf8(key)] = static_cast<qint64>(state);
        std::free(key);
    }
    std::free(iter);
    if (!readable)
        return std::nullopt;
    return loaded;
}

} // namespace folvane
