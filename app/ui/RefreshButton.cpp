#include "RefreshButton.h"

#include "ConsoleLog.h"

#include <QPainter>
#include <QStyleOptionToolButton>
#include <QStylePainter>
#include <QVariantAnimation>

namespace folvane::ui {

RefreshButton::RefreshButton(QWidget* parent) : QToolButton(parent), rotation_(new QVariantAnimation(this)) {
    rotation_->setLoopCount(-1);
    connect(rotation_, &QVariantAnimation::valueChanged, this, [this](const QVariant& value) {
        angle_ = value.toReal();
        update();
    });
}

// Screen angles grow clockwise.
void RefreshButton::spinClockwise(double seconds) {
    startRotate(360.0, seconds);
}

void RefreshButton::spinAntiClockwise(double seconds) {
    startRotate(-360.0, seconds);
}

void RefreshButton::startRotate(qreal degrees, double seconds) {
    rotation_->stop();
    rotation_->setStartValue(0.0);
    rotation_->setEndValue(degrees);
    rotation_->setDuration(static_cast<int>(seconds * 1000));
    rotation_->start();
    refreshing_ = 1;
    logLine(QStringLiteral("Start rotating"));
}

void RefreshButton::stopAnimations() {
    rotation_->stop();
    angle_ = 0.0;
    refreshing_ = 0;
    update();
    logLine(QStringLiteral("Stop rotating"));
}

void RefreshButton::paintEvent(QPaintEvent*) {
    QStylePainter painter(this);
    QStyleOptionToolButton option;
    initStyleOption(&option);
    const QIcon buttonIcon = option.icon;
    option.icon = QIcon();
    painter.drawComplexControl(QStyle::CC_ToolButton, option);

    const QPixmap pixmap =
        buttonIcon.pixmap(iconSize(), devicePixelRatioF(), isEnabled() ? QIcon::Normal : QIcon::Disabled);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.translate(QRectF(rect()).center());
    painter.rotate(angle_);
    painter.drawPixmap(QPointF(-iconSize().width() / 2.0, -iconSize().height() / 2.0), pixmap);
}

} // namespace folvane::ui
