#include "player_icons.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <functional>
#include <initializer_list>

namespace {

using TDraw = std::function<void(QPainter&)>;

// Drawn on a 32 by 32 canvas and scaled to each size.
QIcon Drawn(const TDraw& draw, std::initializer_list<int> sizes)
{
    QIcon icon;
    for (int size : sizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / 32.0, size / 32.0);
        draw(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

// A light top fading into the colour, outlined a shade darker.
void Fill(QPainter& p, const QColor& colour, qreal top, qreal bottom)
{
    QLinearGradient shade(QPointF(0, top), QPointF(0, bottom));
    shade.setColorAt(0.0, colour.lighter(150));
    shade.setColorAt(1.0, colour);
    p.setPen(QPen(colour.darker(150), 1.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(shade);
}

void DrawPlay(QPainter& p)
{
    Fill(p, QColor(52, 168, 83), 4, 28);
    QPainterPath triangle;
    triangle.moveTo(9, 4.5);
    triangle.lineTo(27, 16);
    triangle.lineTo(9, 27.5);
    triangle.closeSubpath();
    p.drawPath(triangle);
}

void DrawPause(QPainter& p)
{
    Fill(p, QColor(52, 96, 200), 5, 27);
    p.drawRoundedRect(QRectF(7, 5, 7, 22), 1.5, 1.5);
    p.drawRoundedRect(QRectF(18, 5, 7, 22), 1.5, 1.5);
}

void DrawStop(QPainter& p)
{
    Fill(p, QColor(210, 60, 50), 6, 26);
    p.drawRoundedRect(QRectF(6, 6, 20, 20), 2.5, 2.5);
}

} // namespace

QIcon PlayerIcon(TPlayerIcon kind)
{
    switch (kind) {
    case TPlayerIcon::Play:
        return Drawn(DrawPlay, {16, 24, 32, 48});
    case TPlayerIcon::Pause:
        return Drawn(DrawPause, {16, 24, 32, 48});
    case TPlayerIcon::Stop:
        return Drawn(DrawStop, {16, 24, 32, 48});
    }
    return {};
}
