#include "UserPrompts.h"

#include <QMessageBox>
#include <QPushButton>

namespace folvane::ui {

void MessageBoxPrompts::alert(QWidget* parent, const QString& message, const QString& informativeText) {
    QMessageBox box(QMessageBox::Warning, message, message, QMessageBox::Ok, parent);
    box.setInformativeText(informativeText);
    box.exec();
}

bool MessageBoxPrompts::confirm(QWidget* parent, const QString& message, const QString& informativeText,
                                const QString& acceptText, const QString& rejectText) {
    QMessageBox box(QMessageBox::Warning, message, message, QMessageBox::NoButton, parent);
    box.setInformativeText(informativeText);
    QPushButton* accept = box.addButton(acceptText, QMessageBox::AcceptRole);
    QPushButton* reject = box.addButton(rejectText, QMessageBox::RejectRole);
    box.setDefaultButton(reject);
    box.setEscapeButton(reject);
    box.exec();
    return box.clickedButton() == accept;
}

} // namespace folvane::ui
