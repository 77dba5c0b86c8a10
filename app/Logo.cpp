#include "app/Logo.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

QPixmap MakeLogo(int size, qreal devicePixelRatio) {
    QPixmap pm(QSize(size, size) * devicePixelRatio);
    pm.setDevicePixelRatio(devicePixelRatio);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    p.setRenderHint(QPainter::Antialiasing);
    // Drawn on a 64 x 64 grid.
    p.scale(size / 64.0, size / 64.0);

    QLinearGradient bg(0, 0, 64, 64);
    bg.setColorAt(0, QColor(0x2b, 0x6c, 0xd6));
    bg.setColorAt(1, QColor(0x17, 0xa5, 0x9a));
    p.setPen(Qt::NoPen);
    p.setBrush(bg);
    p.drawRoundedRect(QRectF(2, 2, 60, 60), 13, 13);

    // A beamed pair of notes.
    p.setBrush(Qt::white);
    p.drawEllipse(QRectF(12, 38, 13, 10));
    p.drawEllipse(QRectF(32, 34, 13, 10));
    p.drawRect(QRectF(22.5, 17, 3, 26));
    p.drawRect(QRectF(42.5, 13, 3, 26));
    QPainterPath beam;
    beam.moveTo(22.5, 17);
    beam.lineTo(45.5, 13);
    beam.lineTo(45.5, 20);
    beam.lineTo(22.5, 24);
    beam.closeSubpath();
    p.drawPath(beam);

    // The arrow of a conversion.
    p.setBrush(QColor(255, 255, 255, 210));
    QPainterPath arrow;
    arrow.moveTo(44, 47);
    arrow.lineTo(52, 47);
    arrow.lineTo(52, 43);
    arrow.lineTo(58, 50);
    arrow.lineTo(52, 57);
    arrow.lineTo(52, 53);
    arrow.lineTo(44, 53);
    arrow.closeSubpath();
    p.drawPath(arrow);
    return pm;
}

QIcon MakeAppIcon() {
    QIcon icon;
    for (int s : {16, 24, 32, 48, 64, 128, 256}) icon.addPixmap(MakeLogo(s));
    return icon;
}
