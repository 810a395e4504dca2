#include "app_icons.h"

#include <QConicalGradient>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QRadialGradient>

#include <functional>
#include <initializer_list>

namespace {

using TDraw = std::function<void(QPainter&)>;

// Draws on a 32 by 32 canvas and scales to each size, so every size of one
// icon shows the same picture.
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

void DrawDisc(QPainter& p, const QPointF& centre, qreal radius)
{
    // A silver disc with the rainbow sheen of its data side.
    QConicalGradient sheen(centre, 30);
    sheen.setColorAt(0.0, QColor(190, 205, 240));
    sheen.setColorAt(0.15, QColor(150, 220, 235));
    sheen.setColorAt(0.3, QColor(235, 240, 250));
    sheen.setColorAt(0.45, QColor(240, 200, 230));
    sheen.setColorAt(0.6, QColor(170, 180, 235));
    sheen.setColorAt(0.75, QColor(230, 235, 180));
    sheen.setColorAt(0.9, QColor(160, 215, 240));
    sheen.setColorAt(1.0, QColor(190, 205, 240));
    p.setPen(QPen(QColor(70, 80, 120), 1.0));
    p.setBrush(sheen);
    p.drawEllipse(centre, radius, radius);
    p.setBrush(QColor(246, 248, 255));
    p.drawEllipse(centre, radius * 0.32, radius * 0.32);
    p.setBrush(Qt::NoBrush);
    p.drawEllipse(centre, radius * 0.13, radius * 0.13);
}

void DrawNote(QPainter& p, const QPointF& at, qreal scale, const QColor& colour)
{
    p.save();
    p.translate(at);
    p.scale(scale, scale);
    p.setPen(Qt::NoPen);
    p.setBrush(colour);
    p.drawEllipse(QPointF(3, 13), 3.2, 2.5);
    p.drawEllipse(QPointF(12, 11), 3.2, 2.5);
    p.drawRect(QRectF(5.4, 1, 1.5, 12));
    p.drawRect(QRectF(14.4, -1, 1.5, 12));
    QPainterPath beam;
    beam.moveTo(5.4, 1);
    beam.lineTo(15.9, -1);
    beam.lineTo(15.9, 2.2);
    beam.lineTo(5.4, 4.2);
    beam.closeSubpath();
    p.drawPath(beam);
    p.restore();
}

void DrawArrowDown(QPainter& p, const QPointF& tip, const QColor& colour)
{
    QPainterPath arrow;
    arrow.moveTo(tip);
    arrow.lineTo(tip + QPointF(-7, -7));
    arrow.lineTo(tip + QPointF(-3, -7));
    arrow.lineTo(tip + QPointF(-3, -14));
    arrow.lineTo(tip + QPointF(3, -14));
    arrow.lineTo(tip + QPointF(3, -7));
    arrow.lineTo(tip + QPointF(7, -7));
    arrow.closeSubpath();
    p.setPen(QPen(colour.darker(140), 1.0));
    p.setBrush(colour);
    p.drawPath(arrow);
}

void DrawExtract(QPainter& p)
{
    DrawDisc(p, QPointF(13, 13), 11.5);
    DrawArrowDown(p, QPointF(24, 31), QColor(52, 168, 83));
}

void DrawEncode(QPainter& p)
{
    p.setPen(QPen(QColor(60, 84, 150), 1.0));
    p.setBrush(QColor(246, 248, 255));
    QPainterPath page;
    page.moveTo(6, 2);
    page.lineTo(20, 2);
    page.lineTo(27, 9);
    page.lineTo(27, 30);
    page.lineTo(6, 30);
    page.closeSubpath();
    p.drawPath(page);
    p.setBrush(QColor(200, 210, 240));
    QPainterPath corner;
    corner.moveTo(20, 2);
    corner.lineTo(20, 9);
    corner.lineTo(27, 9);
    corner.closeSubpath();
    p.drawPath(corner);
    DrawNote(p, QPointF(8, 12), 0.95, QColor(52, 96, 200));
}

void DrawFolder(QPainter& p)
{
    p.setPen(QPen(QColor(176, 128, 24), 1.0));
    p.setBrush(QColor(240, 196, 80));
    QPainterPath back;
    back.moveTo(2, 7);
    back.lineTo(12, 7);
    back.lineTo(15, 10);
    back.lineTo(30, 10);
    back.lineTo(30, 27);
    back.lineTo(2, 27);
    back.closeSubpath();
    p.drawPath(back);
    p.setBrush(QColor(252, 216, 112));
    QPainterPath front;
    front.moveTo(2, 27);
    front.lineTo(5, 14);
    front.lineTo(31, 14);
    front.lineTo(29, 27);
    front.closeSubpath();
    p.drawPath(front);
}

void DrawRecord(QPainter& p)
{
    QRadialGradient glow(QPointF(16, 16), 13, QPointF(12, 12));
    glow.setColorAt(0.0, QColor(255, 140, 130));
    glow.setColorAt(1.0, QColor(200, 30, 30));
    p.setPen(QPen(QColor(140, 20, 20), 1.0));
    p.setBrush(glow);
    p.drawEllipse(QPointF(16, 16), 12, 12);
}

void DrawOptions(QPainter& p)
{
    const qreal rows[] = {8, 16, 24};
    const qreal knobs[] = {20, 10, 16};
    for (int i = 0; i < 3; ++i) {
        p.setPen(QPen(QColor(90, 100, 130), 2.2, Qt::SolidLine, Qt::RoundCap));
        p.drawLine(QPointF(4, rows[i]), QPointF(28, rows[i]));
        p.setPen(QPen(QColor(50, 60, 110), 1.0));
        p.setBrush(QColor(120, 150, 230));
        p.drawRoundedRect(QRectF(knobs[i] - 3, rows[i] - 4, 6, 8), 2, 2);
    }
}

void DrawExit(QPainter& p)
{
    p.setPen(QPen(QColor(90, 70, 60), 1.0));
    p.setBrush(QColor(190, 150, 110));
    p.drawRect(QRectF(4, 3, 14, 26));
    p.setBrush(QColor(120, 90, 60));
    p.drawEllipse(QPointF(15, 16), 1.2, 1.2);
    QPainterPath arrow;
    arrow.moveTo(31, 16);
    arrow.lineTo(24, 9);
    arrow.lineTo(24, 13);
    arrow.lineTo(17, 13);
    arrow.lineTo(17, 19);
    arrow.lineTo(24, 19);
    arrow.lineTo(24, 23);
    arrow.closeSubpath();
    p.setPen(QPen(QColor(160, 30, 30), 1.0));
    p.setBrush(QColor(220, 60, 50));
    p.drawPath(arrow);
}

} // namespace

QIcon ApplicationIcon()
{
    static const QIcon icon = Drawn(
        [](QPainter& p) {
            DrawDisc(p, QPointF(16, 16), 15);
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(40, 70, 170, 40));
            DrawNote(p, QPointF(16, 17), 0.85, QColor(40, 70, 170));
        },
        {16, 24, 32, 48, 64, 128, 256});
    return icon;
}

QIcon ToolIcon(TToolIcon kind)
{
    switch (kind) {
    case TToolIcon::Extract:
        return Drawn(DrawExtract, {24, 48});
    case TToolIcon::Encode:
        return Drawn(DrawEncode, {24, 48});
    case TToolIcon::Folder:
        return Drawn(DrawFolder, {24, 48});
    case TToolIcon::Record:
        return Drawn(DrawRecord, {24, 48});
    case TToolIcon::Options:
        return Drawn(DrawOptions, {24, 48});
    case TToolIcon::Exit:
        return Drawn(DrawExit, {24, 48});
    }
    return {};
}
