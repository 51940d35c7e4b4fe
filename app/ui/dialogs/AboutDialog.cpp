#include "ui/dialogs/AboutDialog.h"

#include "BuildInfo.h"
#include "shell/MakerLinks.h"

#include <QDate>
#include <QDialogButtonBox>
#include <QIcon>
#include <QLabel>
#include <QVBoxLayout>

namespace folvane::shell {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Folvane 3"));
    auto* layout = new QVBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    auto* icon = new QLabel(this);
    icon->setPixmap(QIcon(QStringLiteral(":/icons/folvane3.png")).pixmap(96, 96));
    auto* name = new QLabel(QStringLiteral("<b>Folvane 3</b>"), this);
    auto* version =
        new QLabel(QStringLiteral("Version %1").arg(QString::fromLatin1(build::appVersion)), this);
    auto* credit = new QLabel(aboutCreditLine(QDate::currentDate().year()), this);
    credit->setObjectName(QStringLiteral("credit"));
    for (QLabel* label : {icon, name, version, credit}) {
        label->setAlignment(Qt::AlignHCenter);
        layout->addWidget(label);
    }
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    buttons->setCenterButtons(true);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(buttons);
}

} // namespace folvane::shell
