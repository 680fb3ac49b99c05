#pragma once

#include <QColor>
#include <QImage>
#include <QQuickPaintedItem>
#include <QtQml/qqmlregistration.h>

// A preview image at scale 1 in a rounded rectangle: fitted inside the item and centred, or
// filling it and cropped. A border, when its colour is not transparent, is drawn inside the
// rounded rectangle.
class PreviewImage : public QQuickPaintedItem
{
    Q_OBJECT
    QML_ELEMENT
    Q_PROPERTY(QImage image READ image WRITE setImage NOTIFY imageChanged)
    Q_PROPERTY(qreal radius READ radius WRITE setRadius NOTIFY appearanceChanged)
    Q_PROPERTY(bool fill READ fills WRITE setFill NOTIFY appearanceChanged)
    Q_PROPERTY(QColor borderColor READ borderColor WRITE setBorderColor NOTIFY appearanceChanged)
    Q_PROPERTY(qreal borderWidth READ borderWidth WRITE setBorderWidth NOTIFY appearanceChanged)

public:
    explicit PreviewImage(QQuickItem *parent = nullptr);

    const QImage &image() const { return m_image; }
    void setImage(const QImage &image);
    qreal radius() const { return m_radius; }
    void setRadius(qreal radius);
    bool fills() const { return m_fill; }
    void setFill(bool fill);
    const QColor &borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor &color);
    qreal borderWidth() const { return m_borderWidth; }
    void setBorderWidth(qreal width);

    // Where the image is drawn inside the item.
    QRectF imageRect() const;

    void paint(QPainter *painter) override;

Q_SIGNALS:
    void imageChanged();
    void appearanceChanged();

private:
    template <typename T>
    void assign(T &field, const T &value);

    QImage m_image;
    qreal m_radius = 0;
    bool m_fill = false;
    QColor m_borderColor = Qt::transparent;
    qreal m_borderWidth = 0.5;
};
