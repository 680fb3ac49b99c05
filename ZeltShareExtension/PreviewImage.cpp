#include "PreviewImage.h"

#include <QPainter>
#include <QPainterPath>

PreviewImage::PreviewImage(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
}

template <typename T>
void PreviewImage::assign(T &field, const T &value)
{
    if (field == value)
        return;
    field = value;
    Q_EMIT appearanceChanged();
    update();
}

void PreviewImage::setImage(const QImage &image)
{
    if (m_image == image)
        return;
    m_image = image;
    // Scale 1: one pixel of the preview is one point.
    setImplicitSize(image.width(), image.height());
    Q_EMIT imageChanged();
    update();
}

void PreviewImage::setRadius(qreal radius)
{
    assign(m_radius, radius);
}

void PreviewImage::setFill(bool fill)
{
    assign(m_fill, fill);
}

void PreviewImage::setBorderColor(const QColor &color)
{
    assign(m_borderColor, color);
}

void PreviewImage::setBorderWidth(qreal width)
{
    assign(m_borderWidth, width);
}

QRectF PreviewImage::imageRect() const
{
    const QRectF bounds(0, 0, width(), height());
    if (m_image.isNull() || bounds.isEmpty())
        return {};
    if (m_fill)
        return bounds;
    QSizeF size = m_image.size();
    size.scale(bounds.size(), Qt::KeepAspectRatio);
    QRectF rect(QPointF(), size);
    rect.moveCenter(bounds.center());
    return rect;
}

void PreviewImage::paint(QPainter *painter)
{
    const QRectF target = imageRect();
    if (target.isEmpty())
        return;
    painter->save();
    painter->setRenderHint(QPainter::SmoothPixmapTransform);
    QPainterPath shape;
    shape.addRoundedRect(target, m_radius, m_radius);
    painter->setClipPath(shape);
    QRectF source = m_image.rect();
    if (m_fill) {
        // Cropped to the item's proportions around the centre.
        QSizeF cropped = target.size();
        cropped.scale(source.size(), Qt::KeepAspectRatio);
        QRectF crop(QPointF(), cropped);
        crop.moveCenter(source.center());
        source = crop;
    }
    painter->drawImage(target, m_image, source);
    if (m_borderColor.alpha() > 0 && m_borderWidth > 0) {
        const qreal inset = m_borderWidth / 2;
        painter->setPen(QPen(m_borderColor, m_borderWidth));
        painter->setBrush(Qt::NoBrush);
        painter->drawRoundedRect(target.adjusted(inset, inset, -inset, -inset),
                                 std::max<qreal>(0, m_radius - inset),
                                 std::max<qreal>(0, m_radius - inset));
    }
    painter->restore();
}
