#include "SiteRowWidget.h"

#include "Counted.h"
#include "Icons.h"
#include "RefreshButton.h"
#include "core/BaseWebsite.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPixmap>
#include <QToolButton>
#include <QVBoxLayout>

namespace folvane::ui {

// A one-line label that ends in "…" when its text does not fit; the whole text is its tool tip.
class ElidedLabel : public QLabel {
public:
    using QLabel::QLabel;
    void setFullText(const QString& text) {
        fullText_ = text;
        setToolTip(text);
        elide();
    }
    QString fullText() const { return fullText_; }
    QSize minimumSizeHint() const override { return {0, QLabel::minimumSizeHint().height()}; }

protected:
    void resizeEvent(QResizeEvent* event) override {
        QLabel::resizeEvent(event);
        elide();
    }

private:
    void elide() { setText(fontMetrics().elidedText(fullText_, Qt::ElideMiddle, width())); }
    QString fullText_;
};

namespace {

constexpr int iconSide = 26;

QToolButton* rowButton(QWidget* parent, const QIcon& icon, const QString& tip) {
    auto* button = new QToolButton(parent);
    button->setIcon(icon);
    button->setIconSize(QSize(16, 16));
    button->setAutoRaise(true);
    button->setToolTip(tip);
    button->setFocusPolicy(Qt::NoFocus);
    return button;
}

} // namespace

SiteRowWidget::SiteRowWidget(QWidget* parent)
    : QWidget(parent), favIcon_(new QLabel(this)), websiteName_(new QLabel(this)),
      websiteURL_(new ElidedLabel(this)), pendingUploads_(new QToolButton(this)),
      editButton_(new QToolButton(this)), refreshButton_(new RefreshButton(this)),
      ejectButton_(rowButton(this, icons::eject(), tr("Eject"))), connectionDotIcon_(new QLabel(this)) {
    favIcon_->setFixedSize(iconSide, iconSide);
    favIcon_->setAlignment(Qt::AlignCenter);

    QFont titleFont = websiteName_->font();
    titleFont.setBold(true);
    websiteName_->setFont(titleFont);
    websiteName_->setMinimumWidth(0);
    QPalette urlPalette = websiteURL_->palette();
    urlPalette.setColor(QPalette::WindowText, QColor(0x6b, 0x70, 0x76));
    websiteURL_->setPalette(urlPalette);

    pendingUploads_->setStyleSheet(QStringLiteral("QToolButton { color: #8a5a00; background: #fdf0d5; "
                                                  "border: none; border-radius: 9px; padding: 0px 7px; }"));
    pendingUploads_->setFixedHeight(18);
    pendingUploads_->setFocusPolicy(Qt::NoFocus);
    pendingUploads_->setCursor(Qt::PointingHandCursor);
    pendingUploads_->hide();

    // The edit button's title is drawn in grey 0.55.
    editButton_->setText(tr("Edit"));
    editButton_->setAutoRaise(true);
    editButton_->setFocusPolicy(Qt::NoFocus);
    editButton_->setToolTip(tr("Edit this site"));
    editButton_->setStyleSheet(
        QStringLiteral("QToolButton { color: rgb(140, 140, 140); padding: 2px 6px; }"));
    editButton_->hide();

    refreshButton_->setIcon(icons::refresh());
    refreshButton_->setIconSize(QSize(16, 16));
    refreshButton_->setAutoRaise(true);
    refreshButton_->setFocusPolicy(Qt::NoFocus);
    refreshButton_->setToolTip(tr("Download the templates again"));

    connectionDotIcon_->setFixedSize(16, 16);
    connectionDotIcon_->setAlignment(Qt::AlignCenter);

    auto* text = new QVBoxLayout;
    text->setSpacing(1);
    text->addStretch();
    text->addWidget(websiteName_);
    text->addWidget(websiteURL_);
    text->addStretch();

    auto* row = new QHBoxLayout(this);
    row->setContentsMargins(12, 4, 12, 4);
    row->setSpacing(8);
    row->addWidget(favIcon_);
    row->addLayout(text, 1);
    row->addWidget(pendingUploads_, 0, Qt::AlignVCenter);
    row->addWidget(editButton_);
    row->addWidget(refreshButton_);
    row->addWidget(ejectButton_);
    row->addSpacing(2);
    row->addWidget(connectionDotIcon_);

    connect(editButton_, &QToolButton::clicked, this, &SiteRowWidget::editClicked);
    connect(ejectButton_, &QToolButton::clicked, this, &SiteRowWidget::ejectClicked);
    connect(refreshButton_, &QToolButton::clicked, this, &SiteRowWidget::refreshClicked);
    connect(pendingUploads_, &QToolButton::clicked, this, &SiteRowWidget::pendingClicked);
    setAttribute(Qt::WA_TranslucentBackground);
}

void SiteRowWidget::showSite(const BaseWebsite& site, ConnectionState state) {
    websiteName_->setText(site.cleanName);
    websiteURL_->setFullText(site.dirtyURL);
    QPixmap icon;
    if (site.favIcon && icon.loadFromData(*site.favIcon)) {
        icon.setDevicePixelRatio(std::max(1.0, icon.width() / static_cast<qreal>(iconSide)));
        favIcon_->setPixmap(icon);
    } else {
        favIcon_->setPixmap(icons::siteFace(site.cleanName, iconSide));
    }
    connected_ = site.siteConnection != nullptr;
    ejectButton_->setVisible(connected_);
    refreshButton_->setVisible(connected_);
    showState(state);
    showPendingUploads(connected_ ? site.pendingUploads : 0);
    setRowSelected(selected_);
}

void SiteRowWidget::showState(ConnectionState state) {
    state_ = state;
    connectionDotIcon_->setPixmap(icons::connectionDot(state));
    switch (state) {
    case ConnectionState::connecting:
        connectionDotIcon_->setToolTip(tr("Connecting"));
        break;
    case ConnectionState::connected:
        connectionDotIcon_->setToolTip(tr("Connected"));
        break;
    case ConnectionState::error:
        connectionDotIcon_->setToolTip(tr("Not connected: the last attempt failed"));
        break;
    case ConnectionState::idle:
        connectionDotIcon_->setToolTip(tr("Not connected"));
        break;
    }
}

void SiteRowWidget::showPendingUploads(int count) {
    pendingUploads_->setVisible(count > 0);
    pendingUploads_->setText(QStringLiteral("↑ %1").arg(count));
    pendingUploads_->setToolTip(tr("%1 not yet confirmed by the site; click to see which")
                                    .arg(counted(count, tr("change"), tr("changes"))));
}

void SiteRowWidget::setRowSelected(bool selected) {
    selected_ = selected;
    editButton_->setVisible(selected && !connected_);
}

QPixmap SiteRowWidget::icon() const {
    return favIcon_->pixmap();
}

QString SiteRowWidget::title() const {
    return websiteName_->text();
}

QString SiteRowWidget::typedURL() const {
    return websiteURL_->fullText();
}

} // namespace folvane::ui
