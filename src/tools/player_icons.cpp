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

// A triangle pointing right (or left when mirrored) between x0 and x1.
void Triangle(QPainter& p, qreal x0, qreal x1, bool left)
{
    QPainterPath triangle;
    triangle.moveTo(left ? x1 : x0, 7);
    triangle.lineTo(left ? x0 : x1, 16);
    triangle.lineTo(left ? x1 : x0, 25);
    triangle.closeSubpath();
    p.drawPath(triangle);
}

// To the end or the start: a triangle against a bar.
void DrawSkip(QPainter& p, bool left)
{
    Fill(p, QColor(52, 96, 200), 7, 25);
    Triangle(p, left ? 10 : 6, left ? 26 : 22, left);
    p.drawRoundedRect(QRectF(left ? 5 : 22, 7, 5, 18), 1, 1);
}

// One step: two small triangles.
void DrawStep(QPainter& p, bool left)
{
    Fill(p, QColor(52, 96, 200), 7, 25);
    Triangle(p, left ? 16 : 4, left ? 28 : 16, left);
    Triangle(p, left ? 4 : 16, left ? 16 : 28, left);
}

void DrawRecord(QPainter& p)
{
    Fill(p, QColor(220, 30, 30), 5, 27);
    p.drawEllipse(QRectF(6, 6, 20, 20));
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
    case TPlayerIcon::Next:
        return Drawn([](QPainter& p) { DrawSkip(p, false); }, {16, 24, 32, 48});
    case TPlayerIcon::Prev:
        return Drawn([](QPainter& p) { DrawSkip(p, true); }, {16, 24, 32, 48});
    case TPlayerIcon::Step:
        return Drawn([](QPainter& p) { DrawStep(p, false); }, {16, 24, 32, 48});
    case TPlayerIcon::Back:
        return Drawn([](QPainter& p) { DrawStep(p, true); }, {16, 24, 32, 48});
    case TPlayerIcon::Record:
        return Drawn(DrawRecord, {16, 24, 32, 48});
    }
    return {};
}
