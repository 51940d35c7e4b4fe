#pragma once

#include <QToolButton>

class QVariantAnimation;

namespace folvane::ui {

// A row's refresh button, which turns about its middle while a refresh of the site is under way.
class RefreshButton : public QToolButton {
    Q_OBJECT
public:
    explicit RefreshButton(QWidget* parent = nullptr);

    // One full turn every `seconds`, repeating until stopAnimations().
    void spinClockwise(double seconds);
    void spinAntiClockwise(double seconds);
    void stopAnimations();
    // 1 while spinning (a refresh is under way), 0 when idle.
    int refreshing() const { return refreshing_; }
    qreal angle() const { return angle_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void startRotate(qreal degrees, double seconds);

    QVariantAnimation* rotation_;
    qreal angle_ = 0.0;
    int refreshing_ = 0;
};

} // namespace folvane::ui
