#include "ShareDestinationIconPainter.h"

#include "ThreadIconGeometry.h"
#include "ThreadIconLineShape.h"
#include "avatar/ToviAvatarFacePainter.h"

namespace {

std::u16string_view utf16(const QString &text)
{
    const QStringView view(text);
    return {view.utf16(), std::size_t(view.size())};
}

} // namespace

QColor ShareDestinationIconPainter::toQColor(const SrgbColor &color)
{
    return QColor::fromRgbF(float(color.red), float(color.green), float(color.blue));
}

void ShareDestinationIconPainter::paint(QPainter &painter, const QRectF &box,
                                        const ShareDestination &destination,
                                        ThreadIconColorScheme scheme, const ToviAvatar &avatar,
                                        const QImage &image)
{
    if (const auto *thread = destination.thread()) {
        paintThread(painter, box, *thread, scheme);
        return;
    }
    ToviAvatarFacePainter::paint(painter, box, ToviAvatarFaceState{1, {}, Qt::white}, avatar.face,
                                 image);
}

void ShareDestinationIconPainter::paintThread(QPainter &painter, const QRectF &box,
                                              const ShareDestinationThread &thread,
                                              ThreadIconColorScheme scheme)
{
    const ThreadIconGeometry geometry(utf16(thread.id), ThreadIconShape::Orb, true);
    const QColor color =
        toQColor(ThreadIconPalette::threadColor(utf16(thread.color), scheme, true));
    const double side = std::min(box.width(), box.height()) * orbFraction;
    const QRectF orbBox(box.center().x() - side / 2, box.center().y() - side / 2, side, side);

    painter.save();
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    for (const auto &line : geometry.projectedLines(0, 1)) {
        QColor lineColor = color;
        lineColor.setAlphaF(float(std::clamp(line.opacity, 0.0, 1.0)));
        painter.fillPath(ThreadIconLineShape::path(line, geometry.strokeWidth(), orbBox),
                         lineColor);
    }
    painter.restore();
}
