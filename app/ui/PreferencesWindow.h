#pragma once

#include "NotificationSettings.h"

#include <QWidget>
#include <map>
#include <optional>

class QCheckBox;
class QLabel;
class QPushButton;

namespace folvane {
class SharedPreferences;
}

namespace folvane::ui {

// The preferences pane: seven check boxes whose titles are the preference keys (the usage-data box has an
// empty title and its explanation beside it), the button to the desktop's notification settings, and the
// update controls, and "Start Folvane at login". Each click is stored at once; a click that cannot be stored
// is undone on screen too.
class PreferencesWindow : public QWidget {
    Q_OBJECT
public:
    PreferencesWindow(SharedPreferences& preferences,
                      std::optional<NotificationSettings> notificationSettings, QWidget* parent = nullptr);

    // The box stored under this key.
    QCheckBox* checkBox(const QString& key) const;
    // "Start Folvane at login": not a stored preference but the desktop's autostart entry.
    QCheckBox* startAtLogin() const { return startAtLogin_; }
    QPushButton* notificationPreferences() const { return notificationPreferences_; }
    QPushButton* checkUpdates() const { return checkUpdates_; }
    // Why the last change could not be stored; empty after a stored one.
    QString problem() const;

signals:
    // "Check automatically" changed: the updater follows (before the value is stored).
    void checkAutomaticallyToggled(bool on);
    void checkNowRequested();
    // The usage-data box was clicked and stored: usage analytics is to be stopped when running, else started.
    void usageDataToggled();

private:
    bool changePreference(const QString& key, QCheckBox* box);
    void setEachState();

    SharedPreferences& preferences_;
    std::optional<NotificationSettings> notificationSettings_;
    std::map<QString, QCheckBox*> boxes_;
    QPushButton* notificationPreferences_;
    QPushButton* checkUpdates_;
    QLabel* problem_;
    QCheckBox* startAtLogin_;
};

} // namespace folvane::ui
