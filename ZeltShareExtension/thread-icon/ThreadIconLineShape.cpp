#include "ThreadIconLineShape.h"

#include <QPainterPathStroker>
#include <QTransform>

#include <algorithm>

namespace {

QPointF toPoint(const ThreadIconPoint &point)
{
    return {point.x, point.y};
}

} // namespace

QPainterPath ThreadIconLineShape::centreLine(const ThreadIconProjectedLine &line)
{
    QPainterPath path;
    const auto &points = line.points;
    const std::size_t n = points.size();
    if (line.closed) {
        if (n <= 2)
            return path;
        // A uniform Catmull-Rom spline through every point, as cubic Bézier segments.
        path.moveTo(toPoint(points[0]));
        for (std::size_t i = 0; i < n; ++i) {
            const QPointF p0 = toPoint(points[(i + n - 1) % n]);
            const QPointF p1 = toPoint(points[i]);
            const QPointF p2 = toPoint(points[(i + 1) % n]);
            const QPointF p3 = toPoint(points[(i + 2) % n]);
            path.cubicTo(p1 + (p2 - p0) / 6, p2 - (p3 - p1) / 6, p2);
        }
        path.closeSubpath();
        return path;
    }
    if (n == 0)
        return path;
    path.moveTo(toPoint(points[0]));
    for (std::size_t i = 1; i < n; ++i)
        path.lineTo(toPoint(points[i]));
    return path;
}

QPainterPath ThreadIconLineShape::path(const ThreadIconProjectedLine &line, double strokeWidth,
                                       const QRectF &rect)
{
    const double side = std::min(rect.width(), rect.height());
    const double scale = side / 24;
    QTransform toRect;
    toRect.translate(rect.center().x() - side / 2, rect.center().y() - side / 2);
    toRect.scale(scale, scale);

    QPainterPathStroker stroker;
    stroker.setWidth(scale * strokeWidth);
    stroker.setCapStyle(Qt::RoundCap);
    stroker.setJoinStyle(Qt::RoundJoin);
    stroker.setMiterLimit(10);
    stroker.setDashPattern(Qt::SolidLine);
    return stroker.createStroke(toRect.map(centreLine(line)));
}
