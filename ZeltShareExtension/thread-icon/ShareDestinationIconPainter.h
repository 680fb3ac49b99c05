#pragma once

#include "ThreadIconPalette.h"
#include "avatar/ToviAvatar.h"
#include "service/ShareDestination.h"

#include <QColor>
#include <QImage>
#include <QPainter>
#include <QRectF>

// The icon beside a destination: Tovi's awake face for Tovi, the thread's orb in its colour for
// a thread. Both are drawn from scratch every time; nothing is cached.
class ShareDestinationIconPainter
{
public:
    // The orb fills this share of the icon's side.
    static constexpr double orbFraction = 0.82;

    static QColor toQColor(const SrgbColor &color);

    // Draws the icon into box, a square of the icon's size. Tovi's face comes from avatar and
    // image (the store's); a thread needs neither.
    static void paint(QPainter &painter, const QRectF &box, const ShareDestination &destination,
                      ThreadIconColorScheme scheme, const ToviAvatar &avatar, const QImage &image);
    // A thread's orb in its colour.
    static void paintThread(QPainter &painter, const QRectF &box,
                            const ShareDestinationThread &thread, ThreadIconColorScheme scheme);
};
