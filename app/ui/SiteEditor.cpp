#include "SiteEditor.h"

#include "BusNames.h"
#include "HttpClient.h"
#include "IconFetcher.h"
#include "Icons.h"
#include "Paths.h"
#include "core/BaseWebsite.h"
#include "core/ConnectionCheck.h"
#include "core/SiteListManager.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPropertyAnimation>
#include <QPushButton>
#include <QVBoxLayout>

namespace folvane::ui {

namespace {

// A refused save grows the sheet by this much to show the error line, and the line takes exactly that.
constexpr int errorGrowth = 50;
constexpr int rowSpacing = 10;
constexpr int shakeDurationMs = 500;
constexpr int shakes = 3;
constexpr double shakeAmplitude = 0.05; // of the sheet's width

} // namespace

std::optional<QString> saveRefusal(const SiteListManager& manager, const QString& title, const QString& url,
                                   std::optional<int> position) {
    if (title.isEmpty() || url.isEmpty())
        return missingFieldsText;
    if (!paths::isSafeMountTitle(title))
        return unsafeTitleText;
    if (const auto start = bus::clashingTitleStart(title))
        return clashingTitleText.arg(*start);
    BaseWebsite entered;
    entered.cleanName = title;
    entered.dirtyURL = url;
    if (manager.isSiteInList(entered, position))
        return duplicateSiteText;
    return std::nullopt;
}

SiteEditor::SiteEditor(SiteListManager& manager, IconFetcher& icons, QWidget* parent)
    : QDialog(parent), manager_(manager), icons_(icons),
      http_(std::make_unique<HttpClient>(applicationRequestLimit)),
      editSite_(std::make_shared<BaseWebsite>()), fieldTitle_(new QLineEdit(this)),
      fieldSiteUrl_(new QLineEdit(this)), unencryptedNotice_(new QLabel(unencryptedShortNotice, this)),
      fieldUsername_(new QLineEdit(this)), fieldPassword_(new QLineEdit(this)),
      testButton_(new QPushButton(tr("Test Connection"), this)), markImage_(new QLabel(this)),
      errorMessage_(new QLabel(this)), cancelButton_(new QPushButton(tr("Cancel"), this)),
      saveButton_(new QPushButton(tr("Save"), this)), shake_(new QPropertyAnimation(this, "pos", this)) {
    setWindowModality(Qt::WindowModal);
    setWindowTitle(tr("Site"));

    fieldTitle_->setPlaceholderText(tr("My Site"));
    fieldSiteUrl_->setPlaceholderText(tr("https://www.example.com/admin.php"));
    fieldUsername_->setPlaceholderText(tr("Control panel user name"));
    fieldPassword_->setEchoMode(QLineEdit::Password);
    fieldPassword_->setPlaceholderText(tr("Stored in your keyring"));
    fieldSiteUrl_->setToolTip(tr("The address of the site's control panel, as you use it in the browser"));

    auto* form = new QFormLayout;
    form->setLabelAlignment(Qt::AlignRight | Qt::AlignVCenter);
    form->setHorizontalSpacing(12);
    form->setVerticalSpacing(8);
    form->addRow(tr("Title:"), fieldTitle_);
    form->addRow(tr("Control panel URL:"), fieldSiteUrl_);
    // Allowed, but never silent. One short line (the whole advice is its tool tip), whose room stays when it
    // is hidden, so typing never resizes the sheet.
    unencryptedNotice_->setToolTip(unencryptedPasswordNotice);
    unencryptedNotice_->setStyleSheet(QStringLiteral("QLabel { color: #a15c00; }"));
    QSizePolicy noticeRoom = unencryptedNotice_->sizePolicy();
    noticeRoom.setRetainSizeWhenHidden(true);
    unencryptedNotice_->setSizePolicy(noticeRoom);
    unencryptedNotice_->hide();
    form->addRow(QString(), unencryptedNotice_);
    form->addRow(tr("User name:"), fieldUsername_);
    form->addRow(tr("Password:"), fieldPassword_);

    markImage_->setFixedSize(18, 18);
    auto* test = new QHBoxLayout;
    test->setSpacing(8);
    test->addWidget(testButton_);
    test->addWidget(markImage_);
    test->addStretch();
    form->addRow(QString(), test);

    errorMessage_->setWordWrap(true);
    errorMessage_->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    errorMessage_->setFixedHeight(errorGrowth - rowSpacing);
    errorMessage_->setStyleSheet(QStringLiteral("QLabel { color: #c0281e; }"));
    errorMessage_->hide();

    // Return moves along the fields (see below), so no button takes it.
    for (QPushButton* button : {testButton_, cancelButton_, saveButton_}) {
        button->setAutoDefault(false);
        button->setDefault(false);
    }
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(cancelButton_);
    buttons->addWidget(saveButton_);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(20, 20, 20, 16);
    layout->setSpacing(rowSpacing);
    layout->addLayout(form);
    layout->addWidget(errorMessage_);
    layout->addSpacing(4);
    layout->addLayout(buttons);

    connect(fieldTitle_, &QLineEdit::returnPressed, fieldSiteUrl_, qOverload<>(&QWidget::setFocus));
    connect(fieldSiteUrl_, &QLineEdit::returnPressed, fieldUsername_, qOverload<>(&QWidget::setFocus));
    connect(fieldUsername_, &QLineEdit::returnPressed, fieldPassword_, qOverload<>(&QWidget::setFocus));
    connect(fieldPassword_, &QLineEdit::returnPressed, this, &SiteEditor::saveEdition);
    connect(saveButton_, &QPushButton::clicked, this, &SiteEditor::saveEdition);
    connect(cancelButton_, &QPushButton::clicked, this, &SiteEditor::cancelEdition);
    connect(testButton_, &QPushButton::clicked, this, &SiteEditor::testConnectionToSite);
    connect(fieldSiteUrl_, &QLineEdit::textChanged, this, &SiteEditor::noteUnencryptedAddress);

    setMinimumWidth(480);
    resize(480, sizeHint().height());
}

SiteEditor::~SiteEditor() = default;

void SiteEditor::prepareToAdd(int rowCount) {
    setWindowTitle(tr("Add Site"));
    prepare(std::make_shared<BaseWebsite>(), false, rowCount + 1, fieldTitle_);
}

void SiteEditor::prepareToEdit(const BaseWebsite& site, int position) {
    setWindowTitle(tr("Edit Site"));
    // A copy: a save that cannot be stored leaves the listed record as it was. Its password is read for the
    // edit only.
    auto copy = std::make_shared<BaseWebsite>(site);
    manager_.loadPassword(*copy);
    prepare(std::move(copy), true, position, fieldTitle_);
}

void SiteEditor::prepareDeepLink(const QString& title, const QString& url, const QString& username,
                                 int rowCount) {
    setWindowTitle(tr("Add Site"));
    auto site = std::make_shared<BaseWebsite>();
    site->cleanName = title;
    site->dirtyURL = url;
    site->login = username;
    prepare(std::move(site), false, rowCount, fieldPassword_);
}

void SiteEditor::prepare(std::shared_ptr<BaseWebsite> site, bool editing, int position, QLineEdit* focus) {
    ++use_;
    editSite_ = std::move(site);
    editing_ = editing;
    sitePositionToEdit_ = position;
    setSaving(false);
    printMark(std::nullopt);
    hideError();
    insertEditSiteFields();
    focus->setFocus();
}

void SiteEditor::insertEditSiteFields() {
    fieldTitle_->setText(editSite_->cleanName);
    fieldSiteUrl_->setText(editSite_->dirtyURL);
    fieldUsername_->setText(editSite_->login);
    fieldPassword_->setText(editSite_->password);
}

void SiteEditor::saveEdition() {
    if (!saveButton_->isEnabled())
        return;
    printMark(std::nullopt);
    const QString title = fieldTitle_->text();
    const QString url = fieldSiteUrl_->text();
    if (const auto refusal =
            saveRefusal(manager_, title, url, editing_ ? std::optional(sitePositionToEdit_) : std::nullopt)) {
        showError(*refusal);
        shakeWindow();
        return;
    }
    hideError();
    editSite_->setNewValues(title, url, fieldUsername_->text(), fieldPassword_->text());
    if (editSite_->favIcon) {
        finishSaving();
        return;
    }
    setSaving(true);
    icons_.fetch(editSite_->dirtyURL, editSite_->url,
                 [this, use = use_, site = editSite_](std::optional<QByteArray> icon) {
                     if (use != use_)
                         return;
                     if (icon)
                         site->favIcon = std::move(icon);
                     setSaving(false);
                     finishSaving();
                 });
}

void SiteEditor::finishSaving() {
    const bool stored = editing_ ? manager_.finishedEditingSite(editSite_, sitePositionToEdit_)
                                 : manager_.addNewSite(editSite_);
    if (!stored) {
        showError(tr("Error: Saving Site Failed. %1").arg(manager_.lastError()));
        return;
    }
    editing_ = false;
    done(1);
}

void SiteEditor::cancelEdition() {
    ++use_;
    editing_ = false;
    setSaving(false);
    printMark(std::nullopt);
    hideError();
    done(0);
}

void SiteEditor::reject() {
    cancelEdition();
}

void SiteEditor::testConnectionToSite() {
    // A connected site is not tested and keeps its mark; any other test starts without the old one.
    if (!hasRunningHelper(editSite_.get()))
        printMark(std::nullopt);
    testButton_->setEnabled(false);
    ConnectionCheck check(*http_);
    const std::optional<CheckState> state = check.testConnectionToSite(
        editSite_.get(), fieldSiteUrl_->text(), fieldUsername_->text(), fieldPassword_->text());
    testButton_->setEnabled(true);
    if (!state)
        return;
    printMark(state->isOkay());
    // A certificate that was not accepted is not a wrong password: the user hears which it was.
    if (!state->certificateProblem.isEmpty())
        showError(tr("Error: %1").arg(state->certificateProblem));
}

void SiteEditor::noteUnencryptedAddress() {
    unencryptedNotice_->setHidden(!passwordTravelsUnencrypted(fieldSiteUrl_->text()));
}

void SiteEditor::printMark(std::optional<bool> ok) {
    mark_ = ok;
    if (ok) {
        markImage_->setPixmap(icons::mark(*ok));
        markImage_->setToolTip(*ok ? tr("The add-on answered and accepted the login")
                                   : tr("The add-on did not answer, or refused the login"));
    } else {
        markImage_->clear();
        markImage_->setToolTip(QString());
    }
}

QString SiteEditor::errorText() const {
    return errorMessage_->text();
}

bool SiteEditor::errorShown() const {
    return !errorMessage_->isHidden();
}

void SiteEditor::showError(const QString& text) {
    errorMessage_->setText(text);
    if (!errorMessage_->isHidden())
        return;
    // The layout takes its new minimum first (which may already resize the sheet), then the sheet gets
    // exactly its old height plus the line.
    const int before = height();
    errorMessage_->show();
    layout()->activate();
    resize(width(), before + errorGrowth);
}

void SiteEditor::hideError() {
    if (errorMessage_->isHidden())
        return;
    const int before = height();
    errorMessage_->hide();
    layout()->activate();
    resize(width(), before - errorGrowth);
}

void SiteEditor::shakeWindow() {
    const QPoint origin =
        shake_->state() == QAbstractAnimation::Running ? shake_->startValue().toPoint() : pos();
    shake_->stop();
    const int offset = static_cast<int>(width() * shakeAmplitude);
    shake_->setDuration(shakeDurationMs);
    shake_->setStartValue(origin);
    const int steps = shakes * 2 + 1;
    for (int shake = 0; shake < shakes; ++shake) {
        shake_->setKeyValueAt((shake * 2 + 1) / static_cast<double>(steps), origin - QPoint(offset, 0));
        shake_->setKeyValueAt((shake * 2 + 2) / static_cast<double>(steps), origin + QPoint(offset, 0));
    }
    shake_->setEndValue(origin);
    shake_->start();
}

void SiteEditor::setSaving(bool saving) {
    saveButton_->setEnabled(!saving);
    saveButton_->setText(saving ? tr("Saving…") : tr("Save"));
}

} // namespace folvane::ui
