#pragma once

#include "ThreadIconGeometry.h"

#include <QPainterPath>
#include <QRectF>

// One projected line of a thread icon as a filled shape: the line through its points (a ring as
// a smooth closed curve), stroked with round caps and joins, in the square of the rectangle.
class ThreadIconLineShape
{
public:
    // The outline to fill. The design square maps onto the largest square centred in rect; the
    // stroke is strokeWidth design units wide.
    static QPainterPath path(const ThreadIconProjectedLine &line, double strokeWidth,
                             const QRectF &rect);
    // The line itself, in design units, before mapping and stroking.
    static QPainterPath centreLine(const ThreadIconProjectedLine &line);
};
