#pragma once

#include <QDialog>

namespace folvane::shell {

// The About box: icon, name and version, and the line with the year and the maker's name.
class AboutDialog : public QDialog {
    Q_OBJECT
public:
    explicit AboutDialog(QWidget* parent = nullptr);
};

} // namespace folvane::shell
