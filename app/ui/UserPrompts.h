#pragma once

#include <QString>

class QWidget;

namespace folvane::ui {

// The questions and alerts of the windows. The desktop form shows message boxes; tests answer themselves.
class UserPrompts {
public:
    virtual ~UserPrompts() = default;
    // A modal alert with one "OK" button.
    virtual void alert(QWidget* parent, const QString& message, const QString& informativeText) = 0;
    // A modal warning with two buttons; true when the user chose `acceptText`.
    virtual bool confirm(QWidget* parent, const QString& message, const QString& informativeText,
                         const QString& acceptText, const QString& rejectText) = 0;
};

class MessageBoxPrompts : public UserPrompts {
public:
    void alert(QWidget* parent, const QString& message, const QString& informativeText) override;
    bool confirm(QWidget* parent, const QString& message, const QString& informativeText,
                 const QString& acceptText, const QString& rejectText) override;
};

} // namespace folvane::ui
