#include "SymbolIcon.h"

#include <QPainter>
#include <QPainterPath>

using namespace Qt::StringLiterals;

SymbolIcon::SymbolIcon(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
    setImplicitSize(16, 16);
}

void SymbolIcon::setName(const QString &name)
{
    if (m_name == name)
        return;
    m_name = name;
    Q_EMIT nameChanged();
    update();
}

void SymbolIcon::setColor(const QColor &color)
{
    if (m_color == color)
        return;
    m_color = color;
    Q_EMIT colorChanged();
    update();
}

void SymbolIcon::setBold(bool bold)
{
    if (m_bold == bold)
        return;
    m_bold = bold;
    Q_EMIT boldChanged();
    update();
}

namespace {

// A page with a folded corner in a 24-unit box; returns the area left for the page's content.
QRectF drawPage(QPainter &painter)
{
    QPainterPath page;
    page.moveTo(5, 2.5);
    page.lineTo(14, 2.5);
    page.lineTo(19.5, 8);
    page.lineTo(19.5, 21.5);
    page.lineTo(5, 21.5);
    page.closeSubpath();
    page.moveTo(14, 2.5);
    page.lineTo(14, 8);
    page.lineTo(19.5, 8);
    painter.drawPath(page);
    return {8, 10.5, 8.5, 8.5};
}

void drawLines(QPainter &painter, const QRectF &area, int count, qreal indent = 0)
{
    for (int i = 0; i < count; ++i) {
        const qreal y = area.top() + area.height() * i / std::max(1, count - 1);
        painter.drawLine(QPointF(area.left() + (i == 0 ? indent : 0), y), QPointF(area.right(), y));
    }
}

} // namespace

void SymbolIcon::paint(QPainter *painter)
{
    const qreal side = std::min(width(), height());
    if (side <= 0)
        return;
    painter->save();
    painter->translate((width() - side) / 2, (height() - side) / 2);
    painter->scale(side / 24, side / 24);
    QPen pen(m_color, m_bold ? 2.4 : 1.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter->setPen(pen);
    painter->setBrush(Qt::NoBrush);

    if (m_name == u"chevron.right") {
        painter->drawPolyline(QPolygonF({{9, 5}, {16, 12}, {9, 19}}));
    } else if (m_name == u"checkmark") {
        painter->drawPolyline(QPolygonF({{4.5, 12.5}, {9.5, 17.5}, {19.5, 6.5}}));
    } else if (m_name == u"checkmark.circle.fill") {
        painter->setPen(Qt::NoPen);
        painter->setBrush(m_color);
        painter->drawEllipse(QRectF(1.5, 1.5, 21, 21));
        pen.setColor(Qt::white);
        pen.setWidthF(2.2);
        painter->setPen(pen);
        painter->drawPolyline(QPolygonF({{7.5, 12.5}, {10.8, 15.8}, {16.8, 8.8}}));
    } else if (m_name == u"photo") {
        painter->drawRoundedRect(QRectF(2.5, 4.5, 19, 15), 2.5, 2.5);
        painter->drawEllipse(QPointF(8, 9.5), 1.6, 1.6);
        painter->drawPolyline(QPolygonF({{3, 17.5}, {9, 12}, {13, 15.5}, {16, 13}, {21, 17}}));
    } else if (m_name == u"film") {
        painter->drawRoundedRect(QRectF(3.5, 2.5, 17, 19), 2, 2);
        painter->drawLine(QPointF(7.5, 2.5), QPointF(7.5, 21.5));
        painter->drawLine(QPointF(16.5, 2.5), QPointF(16.5, 21.5));
        painter->drawLine(QPointF(7.5, 12), QPointF(16.5, 12));
        for (qreal y : {6.5, 12.0, 17.5}) {
            painter->drawLine(QPointF(3.5, y), QPointF(7.5, y));
            painter->drawLine(QPointF(16.5, y), QPointF(20.5, y));
        }
    } else if (m_name == u"waveform") {
        const qreal heights[] = {4, 10, 16, 8, 13, 6, 3};
        for (int i = 0; i < 7; ++i) {
            const qreal x = 3 + i * 3;
            painter->drawLine(QPointF(x, 12 - heights[i] / 2), QPointF(x, 12 + heights[i] / 2));
        }
    } else {
        const QRectF content = drawPage(*painter);
        if (m_name == u"doc.text") {
            drawLines(*painter, content.adjusted(0, 0, 0, -1), 4);
        } else if (m_name == u"doc.richtext") {
            painter->drawRect(QRectF(content.left(), content.top(), 3.5, 3.5));
            drawLines(*painter, content.adjusted(0, 0, 0, -1), 4, 5);
        } else if (m_name == u"doc.zipper") {
            const qreal x = 10.5;
            for (qreal y = 4.5; y < 17; y += 3) {
                painter->drawLine(QPointF(x - 1.5, y), QPointF(x, y));
                painter->drawLine(QPointF(x, y + 1.5), QPointF(x + 1.5, y + 1.5));
            }
            painter->drawRoundedRect(QRectF(x - 1.8, 17, 3.6, 3), 0.8, 0.8);
        }
    }
    painter->restore();
}
