#pragma once

#include <QDialog>
#include <memory>
#include <optional>

class QLabel;
class QLineEdit;
class QPushButton;
class QPropertyAnimation;

namespace folvane {
class HttpClient;
class BaseWebsite;
class SiteListManager;
} // namespace folvane

namespace folvane::ui {

class IconFetcher;

// The error lines of a refused save.
inline const QString missingFieldsText = QStringLiteral(
    "Error: Adding Site Failed. Check that you entered both a title and the URL from the control panel.");
inline const QString duplicateSiteText = QStringLiteral(
    "Error: Adding Site Failed. Check that you don't have another site entered with the same title or URL.");
inline const QString clashingTitleText = QStringLiteral(
    "Error: Adding Site Failed. The title cannot start with \"%1\": Folvane's messages to the site would "
    "reach another site's.");
inline const QString unsafeTitleText = QStringLiteral(
    "Error: Adding Site Failed. The title names the site's folder, so it cannot be \".\" or \"..\" or "
    "contain \"/\".");
// The line under an http:// address; the whole advice (unencryptedPasswordNotice) is its tool tip.
inline const QString unencryptedShortNotice =
    QStringLiteral("The password will travel unencrypted over http://.");

// Why a save of these values is refused, or nothing. A conflict is another site with exactly the same title
// or typed URL; with a position (editing), the site there is not counted.
std::optional<QString> saveRefusal(const SiteListManager& manager, const QString& title, const QString& url,
                                   std::optional<int> position);

// The window-modal sheet in which a site is added, edited, or completed after a deep link: title,
// control-panel URL, user name and password, a connection test with its mark, the error line of a refused
// save, Cancel and Save. It ends with 1 after a save and 0 after a cancel.
class SiteEditor : public QDialog {
    Q_OBJECT
public:
    SiteEditor(SiteListManager& manager, IconFetcher& icons, QWidget* parent = nullptr);
    ~SiteEditor() override;

    // Add: a new empty record, appended on save.
    void prepareToAdd(int rowCount);
    // Edit: the listed site at `position`; the record changes only when the save is stored.
    void prepareToEdit(const BaseWebsite& site, int position);
    // Deep link: a new record with the link's title, typed URL and user name; the password field has the
    // focus.
    void prepareDeepLink(const QString& title, const QString& url, const QString& username, int rowCount);

    void saveEdition();
    void cancelEdition();
    void testConnectionToSite();

    // For the list and for tests.
    bool editing() const { return editing_; }
    int sitePositionToEdit() const { return sitePositionToEdit_; }
    std::shared_ptr<BaseWebsite> editSite() const { return editSite_; }
    // The connection test's mark: true "check", false "x", nothing when cleared.
    std::optional<bool> mark() const { return mark_; }
    QString errorText() const;
    bool errorShown() const;

    QLineEdit* fieldTitle() const { return fieldTitle_; }
    QLineEdit* fieldSiteUrl() const { return fieldSiteUrl_; }
    QLineEdit* fieldUsername() const { return fieldUsername_; }
    QLineEdit* fieldPassword() const { return fieldPassword_; }
    QPushButton* saveButton() const { return saveButton_; }
    QPushButton* cancelButton() const { return cancelButton_; }
    QPushButton* testButton() const { return testButton_; }
    // The line under the URL that says an http:// address sends the password unencrypted; hidden otherwise.
    // Always one line, so it is never cut off.
    QLabel* unencryptedNotice() const { return unencryptedNotice_; }

protected:
    void reject() override;

private:
    void prepare(std::shared_ptr<BaseWebsite> site, bool editing, int position, QLineEdit* focus);
    void insertEditSiteFields();
    void finishSaving();
    void printMark(std::optional<bool> ok);
    void noteUnencryptedAddress();
    void showError(const QString& text);
    void hideError();
    void shakeWindow();
    void setSaving(bool saving);

    SiteListManager& manager_;
    IconFetcher& icons_;
    std::unique_ptr<HttpClient> http_;
    std::shared_ptr<BaseWebsite> editSite_;
    bool editing_ = false;
    int sitePositionToEdit_ = -1;
    std::optional<bool> mark_;
    // Changes whenever the sheet is prepared or cancelled, so a late icon answer for an earlier use is
    // dropped.
    quint64 use_ = 0;

    QLineEdit* fieldTitle_;
    QLineEdit* fieldSiteUrl_;
    QLabel* unencryptedNotice_;
    QLineEdit* fieldUsername_;
    QLineEdit* fieldPassword_;
    QPushButton* testButton_;
    QLabel* markImage_;
    QLabel* errorMessage_;
    QPushButton* cancelButton_;
    QPushButton* saveButton_;
    QPropertyAnimation* shake_;
};

} // namespace folvane::ui
