#include "Icons.h"

#include <QPainter>
#include <QPainterPath>

#include <functional>

namespace folvane::ui::icons {

namespace {

constexpr qreal renderScale = 2.0; // drawn at twice the size, so high-density screens stay crisp

QPixmap canvas(int size) {
    QPixmap pixmap(static_cast<int>(size * renderScale), static_cast<int>(size * renderScale));
    pixmap.setDevicePixelRatio(renderScale);
    pixmap.fill(Qt::transparent);
    return pixmap;
}

QIcon iconOf(const std::function<void(QPainter&, qreal)>& draw) {
    QIcon icon;
    for (int size : {16, 24, 32}) {
        QPixmap pixmap = canvas(size);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        draw(painter, size);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

const QColor glyphColour(0x55, 0x5a, 0x60);

} // namespace

QPixmap connectionDot(ConnectionState state) {
    QString name;
    switch (state) {
    case ConnectionState::connecting:
        name = QStringLiteral("connecting");
        break;
    case ConnectionState::connected:
        name = QStringLiteral("connected");
        break;
    case ConnectionState::error:
        name = QStringLiteral("error");
        break;
    case ConnectionState::idle:
        name = QStringLiteral("neutral");
        break;
    }
    // 32 pixels drawn as 16 points.
    QPixmap dot(QStringLiteral(":/icons/dot-%1.png").arg(name));
    dot.setDevicePixelRatio(renderScale);
    return dot;
}

QPixmap mark(bool passed, int size) {
    QPixmap pixmap = canvas(size);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    painter.setPen(QPen(passed ? QColor(0x2e, 0xb8, 0x4b) : QColor(0xe0, 0x3b, 0x2f), s * 0.14, Qt::SolidLine,
                        Qt::RoundCap, Qt::RoundJoin));
    if (passed) {
        QPainterPath tick;
        tick.moveTo(s * 0.18, s * 0.52);
        tick.lineTo(s * 0.42, s * 0.76);
        tick.lineTo(s * 0.84, s * 0.26);
        painter.drawPath(tick);
    } else {
        painter.drawLine(QPointF(s * 0.24, s * 0.24), QPointF(s * 0.76, s * 0.76));
        painter.drawLine(QPointF(s * 0.76, s * 0.24), QPointF(s * 0.24, s * 0.76));
    }
    return pixmap;
}

QIcon eject() {
    return iconOf([](QPainter& painter, qreal s) {
        painter.setPen(Qt::NoPen);
        painter.setBrush(glyphColour);
        QPainterPath triangle;
        triangle.moveTo(s * 0.5, s * 0.18);
        triangle.lineTo(s * 0.84, s * 0.58);
        triangle.lineTo(s * 0.16, s * 0.58);
        triangle.closeSubpath();
        painter.drawPath(triangle);
        painter.drawRoundedRect(QRectF(s * 0.16, s * 0.68, s * 0.68, s * 0.13), s * 0.03, s * 0.03);
    });
}

QIcon refresh() {
    return iconOf([](QPainter& painter, qreal s) {
        painter.setPen(QPen(glyphColour, s * 0.11, Qt::SolidLine, Qt::RoundCap));
        const QRectF ring(s * 0.2, s * 0.2, s * 0.6, s * 0.6);
        painter.drawArc(ring, 60 * 16, 290 * 16);
        // The arrow head at the arc's open end, pointing clockwise.
        painter.setPen(Qt::NoPen);
        painter.setBrush(glyphColour);
        QPainterPath head;
        head.moveTo(s * 0.56, s * 0.06);
        head.lineTo(s * 0.84, s * 0.24);
        head.lineTo(s * 0.54, s * 0.38);
        head.closeSubpath();
        painter.drawPath(head);
    });
}

QString siteInitial(const QString& title) {
    const QString trimmed = title.trimmed();
    for (qsizetype i = 0; i < trimmed.size(); ++i)
        if (trimmed.at(i).isLetterOrNumber())
            return trimmed.at(i).toUpper();
    // A title of signs only: its first character, whole even where it takes two UTF-16 units.
    return trimmed.left(trimmed.isEmpty() || !trimmed.at(0).isHighSurrogate() ? 1 : 2);
}

int siteHue(const QString& title) {
    // FNV-1a over the title's UTF-8: qHash is seeded anew in every run.
    quint32 hash = 2166136261u;
    for (const char byte : title.toUtf8()) {
        hash ^= static_cast<unsigned char>(byte);
        hash *= 16777619u;
    }
    return static_cast<int>(hash % 360);
}

QPixmap siteFace(const QString& title, int size) {
    QPixmap pixmap = canvas(size);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor::fromHsv(siteHue(title), 140, 185));
    painter.drawRoundedRect(QRectF(s * 0.04, s * 0.04, s * 0.92, s * 0.92), s * 0.2, s * 0.2);
    QFont font = painter.font();
    font.setPixelSize(static_cast<int>(s * 0.58));
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRectF(0, 0, s, s), Qt::AlignCenter, siteInitial(title));
    return pixmap;
}

QIcon application() {
    return QIcon(QStringLiteral(":/icons/folvane3.png"));
}

} // namespace folvane::ui::icons
