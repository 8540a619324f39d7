#include "console/InstrumentPictures.h"

#include <QPainter>
#include <QPainterPath>
#include <cmath>

namespace {

void Body(QPainter& p, int size) {
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(40, 40, 50), size / 40.0));
    p.setBrush(QColor(70, 80, 95));
    p.drawRoundedRect(QRectF(size * 0.08, size * 0.18, size * 0.84, size * 0.64), size * 0.06,
                      size * 0.06);
    // Lens barrel.
    p.setBrush(QColor(35, 35, 40));
    p.drawRect(QRectF(size * 0.02, size * 0.38, size * 0.1, size * 0.24));
}

void Filter(QPainter& p, QPointF centre, double radius, QColor colour) {
    QRadialGradient glass(centre, radius);
    glass.setColorAt(0, colour.lighter(160));
    glass.setColorAt(1, colour);
    p.setBrush(glass);
    p.drawEllipse(centre, radius, radius);
}

}  // namespace

QPixmap MultiFilterPicture(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    Body(p, size);
    const QPointF centre(size * 0.54, size * 0.5);
    p.setBrush(QColor(180, 185, 195));
    p.drawEllipse(centre, size * 0.28, size * 0.28);
    static const QColor kColours[] = {QColor(200, 40, 40),  QColor(230, 150, 30),
                                      QColor(220, 210, 40), QColor(40, 160, 60),
                                      QColor(40, 90, 200),  QColor(120, 50, 170)};
    for (int i = 0; i < 6; ++i) {
        const double angle = i * M_PI / 3;
        const QPointF at(centre.x() + std::cos(angle) * size * 0.18,
                         centre.y() + std::sin(angle) * size * 0.18);
        Filter(p, at, size * 0.065, kColours[i]);
    }
    return pixmap;
}

QPixmap SingleFilterPicture(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    Body(p, size);
    Filter(p, QPointF(size * 0.54, size * 0.5), size * 0.2, QColor(40, 90, 200));
    // Shutter blades.
    p.setPen(QPen(QColor(20, 20, 25), size / 60.0));
    for (int i = 0; i < 5; ++i) {
        const double angle = i * 2 * M_PI / 5;
        p.drawLine(QPointF(size * 0.54, size * 0.5),
                   QPointF(size * 0.54 + std::cos(angle) * size * 0.2,
                           size * 0.5 + std::sin(angle) * size * 0.2));
    }
    return pixmap;
}

QIcon ProgramIcon() {
    QIcon icon;
    for (int size : {16, 32, 48, 64}) {
        icon.addPixmap(MultiFilterPicture(size));
    }
    return icon;
}
