#include "SiteListLayout.h"

#include "SiteListView.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QStackedWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace folvane::ui {

namespace {

QWidget* makePrompt(QWidget* parent, QPushButton* addButton) {
    auto* prompt = new QWidget(parent);
    prompt->setObjectName(QStringLiteral("addNewSitePrompt"));
    prompt->setStyleSheet(QStringLiteral("#addNewSitePrompt { background: #ffffff; }"));
    auto* heading = new QLabel(QObject::tr("No sites yet"), prompt);
    QFont headingFont = heading->font();
    headingFont.setPointSizeF(headingFont.pointSizeF() * 1.3);
    headingFont.setBold(true);
    heading->setFont(headingFont);
    heading->setAlignment(Qt::AlignCenter);
    auto* text =
        new QLabel(QObject::tr("Add the control panel of an ExpressionEngine or WordPress site to work "
                               "on its templates as files."),
                   prompt);
    text->setWordWrap(true);
    text->setAlignment(Qt::AlignCenter);
    text->setStyleSheet(QStringLiteral("QLabel { color: #6b7076; }"));
    auto* layout = new QVBoxLayout(prompt);
    layout->setContentsMargins(40, 0, 40, 0);
    layout->setSpacing(12);
    layout->addStretch(2);
    layout->addWidget(heading);
    layout->addWidget(text);
    layout->addWidget(addButton, 0, Qt::AlignHCenter);
    layout->addStretch(3);
    return prompt;
}

QHBoxLayout* makeBar(const SiteListLayout& parts) {
    parts.searchField->setPlaceholderText(SiteListLayout::searchPlaceholder);
    parts.searchField->setClearButtonEnabled(true);
    parts.addWebsiteButton->setText(QStringLiteral("+"));
    parts.addWebsiteButton->setToolTip(QObject::tr("Add a site (Ctrl+N)"));
    parts.menuButton->setText(QStringLiteral("☰"));
    parts.menuButton->setToolTip(QObject::tr("Menu"));
    parts.menuButton->setPopupMode(QToolButton::InstantPopup);
    parts.menuButton->setStyleSheet(QStringLiteral("QToolButton::menu-indicator { image: none; }"));
    for (QToolButton* button : {parts.addWebsiteButton, parts.menuButton}) {
        button->setAutoRaise(true);
        button->setFixedSize(30, 30);
        QFont font = button->font();
        font.setPointSizeF(font.pointSizeF() * 1.3);
        button->setFont(font);
    }
    parts.menuButton->hide();

    auto* bar = new QHBoxLayout;
    bar->setContentsMargins(10, 10, 10, 10);
    bar->setSpacing(6);
    bar->addWidget(parts.searchField, 1);
    bar->addWidget(parts.addWebsiteButton);
    bar->addWidget(parts.menuButton);
    return bar;
}

} // namespace

SiteListLayout SiteListLayout::build(QWidget& window) {
    SiteListLayout parts{};
    parts.searchField = new QLineEdit(&window);
    parts.addWebsiteButton = new QToolButton(&window);
    parts.menuButton = new QToolButton(&window);
    parts.stack = new QStackedWidget(&window);
    parts.listView = new SiteListView(&window);
    parts.promptButton = new QPushButton(QObject::tr("Add a Site…"), &window);
    parts.promptButton->setMinimumSize(140, 32);
    parts.addNewSitePrompt = makePrompt(&window, parts.promptButton);
    parts.stack->addWidget(parts.listView);
    parts.stack->addWidget(parts.addNewSitePrompt);

    auto* line = new QFrame(&window);
    line->setFrameShape(QFrame::HLine);
    line->setStyleSheet(QStringLiteral("QFrame { color: #dcdcdc; }"));
    parts.notice = new QLabel(&window);
    parts.notice->setObjectName(QStringLiteral("notice"));
    parts.notice->setWordWrap(true);
    parts.notice->setContentsMargins(10, 8, 10, 8);
    parts.notice->setStyleSheet(QStringLiteral("QLabel { background: #fff6d9; color: #4a3b00; }"));
    parts.notice->hide();
    auto* layout = new QVBoxLayout(&window);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addLayout(makeBar(parts));
    layout->addWidget(line);
    layout->addWidget(parts.stack, 1);
    layout->addWidget(parts.notice);

    parts.rowMenu = new QMenu(&window);
    parts.menuConnectButton = parts.rowMenu->addAction(QObject::tr("Connect"));
    parts.menuEditButton = parts.rowMenu->addAction(QObject::tr("Edit…"));
    parts.menuDuplicateButton = parts.rowMenu->addAction(QObject::tr("Duplicate"));
    parts.menuPendingButton = parts.rowMenu->addAction(QObject::tr("Unconfirmed Files…"));
    parts.rowMenu->addSeparator();
    parts.menuDeleteButton = parts.rowMenu->addAction(QObject::tr("Delete…"));
    return parts;
}

} // namespace folvane::ui
