#include "PreferencesWindow.h"

#include "ConsoleLog.h"
#include "Icons.h"
#include "core/SharedPreferences.h"
#include "shell/Autostart.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QEvent>
#include <QGridLayout>
#include <QLabel>
#include <QMouseEvent>
#include <QProcess>
#include <QPushButton>
#include <QSignalBlocker>
#include <QVBoxLayout>

namespace folvane::ui {

namespace {

// The indentation of text that belongs to a check box, so it lines up with the box's title.
constexpr int explanationIndent = 24;

QLabel* sectionHeading(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    QFont font = label->font();
    font.setBold(true);
    label->setFont(font);
    return label;
}

QLabel* explanation(const QString& text, QWidget* parent) {
    auto* label = new QLabel(text, parent);
    label->setWordWrap(true);
    label->setStyleSheet(QStringLiteral("QLabel { color: #5f6368; }"));
    return label;
}

// Clicking the explanation of a box that has no title of its own toggles the box.
class ClickToggles : public QObject {
public:
    ClickToggles(QCheckBox* box, QObject* parent) : QObject(parent), box_(box) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::MouseButtonRelease &&
            static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            box_->click();
            return true;
        }
        return false;
    }

private:
    QCheckBox* box_;
};

} // namespace

PreferencesWindow::PreferencesWindow(SharedPreferences& preferences,
                                     std::optional<NotificationSettings> notificationSettings,
                                     QWidget* parent)
    : QWidget(parent, Qt::Window), preferences_(preferences),
      notificationSettings_(std::move(notificationSettings)),
      notificationPreferences_(new QPushButton(tr("Notification Settings…"), this)),
      checkUpdates_(new QPushButton(tr("Check Now"), this)), problem_(new QLabel(this)),
      startAtLogin_(new QCheckBox(tr("Start Folvane at login"), this)) {
    setWindowTitle(tr("Folvane 3 Preferences"));
    setWindowIcon(icons::application());
    for (const auto& [key, initial] : SharedPreferences::defaults()) {
        // Stored under its original title; the box says it in this desktop's words.
        auto* box = new QCheckBox(key == SharedPreferences::openFinderWindowOnConnect
                                      ? tr("Open the site's folder on connect")
                                      : key,
                                  this);
        box->setChecked(initial == 1);
        boxes_[key] = box;
    }
    QCheckBox* sendDataUsage = checkBox(SharedPreferences::sendDataUsage);
    const QString sendDataText =
        tr("Send anonymous usage data: when Folvane starts, its version and the number "
           "of your sites. Nothing about the sites themselves is sent.");
    sendDataUsage->setAccessibleName(sendDataText);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(24, 20, 24, 20);
    layout->setSpacing(8);

    layout->addWidget(sectionHeading(tr("Connections"), this));
    layout->addWidget(startAtLogin_);
    layout->addWidget(checkBox(SharedPreferences::openFinderWindowOnConnect));
    layout->addWidget(checkBox(SharedPreferences::alertDefaultGroupNotSet));
    auto* notifications = new QHBoxLayout;
    notifications->addWidget(checkBox(SharedPreferences::enableNotifications));
    notifications->addStretch();
    notifications->addWidget(notificationPreferences_);
    layout->addLayout(notifications);

    layout->addSpacing(10);
    layout->addWidget(sectionHeading(tr("Caching"), this));
    layout->addWidget(checkBox(SharedPreferences::enableCaching));
    auto* caching = new QVBoxLayout;
    caching->setContentsMargins(explanationIndent, 0, 0, 0);
    caching->setSpacing(6);
    caching->addWidget(explanation(tr("With caching on, a file you open again is read from the copy on this "
                                      "computer, which is faster."),
                                   this));
    caching->addWidget(explanation(tr("With caching off, every file is fetched from the site each time it is "
                                      "opened, so you always work on the site's latest version."),
                                   this));
    layout->addLayout(caching);
    layout->addWidget(checkBox(SharedPreferences::checkSiteBeforeSave));
    auto* check = new QVBoxLayout;
    check->setContentsMargins(explanationIndent, 0, 0, 0);
    check->addWidget(
        explanation(tr("Before a save replaces a template, its text on the site is fetched: when "
                       "someone else changed it there, their version is kept in the recovery "
                       "folder and you are told."),
                    this));
    layout->addLayout(check);

    layout->addSpacing(10);
    layout->addWidget(sectionHeading(tr("Privacy"), this));
    auto* usage = new QHBoxLayout;
    usage->setSpacing(4);
    usage->addWidget(sendDataUsage, 0, Qt::AlignTop);
    QLabel* usageText = explanation(sendDataText, this);
    usageText->setStyleSheet(QString());
    usageText->installEventFilter(new ClickToggles(sendDataUsage, usageText));
    usage->addWidget(usageText, 1);
    layout->addLayout(usage);

    layout->addSpacing(10);
    layout->addWidget(sectionHeading(tr("Updates"), this));
    auto* updates = new QHBoxLayout;
    updates->addWidget(checkBox(SharedPreferences::autoCheckUpdates));
    updates->addStretch();
    updates->addWidget(checkUpdates_);
    layout->addLayout(updates);

    problem_->setWordWrap(true);
    problem_->setStyleSheet(QStringLiteral("QLabel { color: #c0281e; }"));
    problem_->hide();
    layout->addWidget(problem_);

    notificationPreferences_->setVisible(notificationSettings_.has_value());
    connect(notificationPreferences_, &QPushButton::clicked, this, [this] {
        if (notificationSettings_ &&
            !QProcess::startDetached(notificationSettings_->program, notificationSettings_->arguments))
            logLine(QStringLiteral("Could not start ") + notificationSettings_->program);
    });
    connect(checkUpdates_, &QPushButton::clicked, this, &PreferencesWindow::checkNowRequested);
    for (const auto& [key, box] : boxes_)
        connect(box, &QCheckBox::clicked, this, [this, key = key, box = box] {
            if (key == SharedPreferences::autoCheckUpdates) {
                logLine(QStringLiteral("Toggle update auto"));
                emit checkAutomaticallyToggled(box->isChecked());
                if (!changePreference(key, box))
                    emit checkAutomaticallyToggled(box->isChecked());
            } else if (changePreference(key, box) && key == SharedPreferences::sendDataUsage) {
                emit usageDataToggled();
            }
        });

    startAtLogin_->setChecked(shell::autostart::isOn());
    connect(startAtLogin_, &QCheckBox::clicked, this, [this](bool on) {
        const std::optional<QString> why = shell::autostart::set(on, QCoreApplication::applicationFilePath());
        problem_->setVisible(why.has_value());
        if (!why)
            return;
        problem_->setText(tr("Start at login could not be changed: %1").arg(*why));
        startAtLogin_->setChecked(!on);
    });

    setEachState();
    setFixedWidth(480);
    adjustSize();
}

QCheckBox* PreferencesWindow::checkBox(const QString& key) const {
    const auto it = boxes_.find(key);
    return it == boxes_.end() ? nullptr : it->second;
}

QString PreferencesWindow::problem() const {
    return problem_->isHidden() ? QString() : problem_->text();
}

void PreferencesWindow::setEachState() {
    for (const auto& [key, box] : boxes_)
        if (const std::optional<qint64> stored = preferences_.value(key))
            box->setChecked(*stored == 1);
}

bool PreferencesWindow::changePreference(const QString& key, QCheckBox* box) {
    if (preferences_.changePreference(key, box->isChecked() ? 1 : 0)) {
        problem_->hide();
        return true;
    }
    const QSignalBlocker quiet(box);
    box->setChecked(!box->isChecked());
    problem_->setText(tr("The preference could not be saved: %1").arg(preferences_.lastError()));
    problem_->show();
    return false;
}

} // namespace folvane::ui
