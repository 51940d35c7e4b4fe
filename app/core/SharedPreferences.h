#pragma once

#include "PreferenceKeys.h"
#include "PropertyListFile.h"

#include <QString>
#include <map>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace folvane {

class PreferencesManagerDelegate {
public:
    virtual ~PreferencesManagerDelegate() = default;
    virtual void updatePreferences() = 0;
};

// The preferences: a dictionary from check-box title to 0 or 1, kept in "preferences.plist" (a binary
// property list whose root is that dictionary). A change that cannot be saved is undone in memory. The
// command line changes the same file: a change is made to what the file holds at that moment, under its
// lock, and what another program saved is read back when the file watch reports it.
class SharedPreferences {
public:
    // The seven titles, which are the keys. The usage-data box has an empty title.
    static inline const QString openFinderWindowOnConnect = QStringLiteral("Open Finder Window on Connect");
    static inline const QString sendDataUsage = QString();
    static inline const QString alertDefaultGroupNotSet =
        QStringLiteral("Alert when Default Group is not set");
    static inline const QString enableNotifications = QStringLiteral("Enable notifications");
    static inline const QString autoCheckUpdates = QStringLiteral("Check automatically");
    static inline const QString enableCaching = QStringLiteral("Enable caching");
    static inline const QString checkSiteBeforeSave = prefkeys::checkSiteBeforeSave;
    // The seven titles in the pane's order with the state each has on a first start.
    static const std::vector<std::pair<QString, qint64>>& defaults();

    // Loads the file from `folder`; on a first start writes the defaults to it, and a preference the file
    // lacks takes its default and is written back. An unreadable file leaves the dictionary empty (and is
    // moved aside).
    explicit SharedPreferences(const QString& folder);
    ~SharedPreferences();

    const std::map<QString, qint64>& preferences() const { return preferences_; }
    bool isPrefInList(const QString& title) const;
    std::optional<qint64> value(const QString& title) const;
    // The stored value as decimal text, or "" when there is none: the form the helper takes.
    QString strPreferences(const QString& title) const;
    // Stores one value into what the file holds now (read again under the file's lock, so a change the
    // other program made meanwhile stays) and saves; on failure the old value (or its absence) comes back.
    bool changePreference(const QString& title, qint64 value);

    QString getPreferencesFilePath() const { return file_.path(); }
    bool preferencesFileExists() const { return file_.exists(); }
    bool createPreferencesFile();
    bool saveToFile();
    bool loadFromFile();
    // Reads the file again when another program saved it since this one last read or wrote it (the
    // file watch calls it while the event loop turns), and tells the delegate.
    bool reloadIfChanged();
    // The preferences a file's root node holds; nothing unless it is a dictionary of whole numbers.
    static std::optional<std::map<QString, qint64>> preferencesFrom(plist_t root);
    // The root node the file is saved with: what preferencesFrom() reads back.
    static Plist archive(const std::map<QString, qint64>& preferences);

    QString lastError() const { return file_.lastError(); }
    QString keptAsidePath() const { return file_.keptAsidePath(); }

    PreferencesManagerDelegate* delegate = nullptr;

private:
    // Reads the file; on a first start, or when it lacks a preference, completes and writes it.
    void readOrCreate();
    // Saves without taking the lock: the caller holds it.
    bool writeFile();

    PropertyListFile file_;
    std::map<QString, qint64> preferences_;
    PropertyListFile::Stamp knownStamp_;
    std::unique_ptr<PropertyListWatch> watch_;
};

} // namespace folvane
