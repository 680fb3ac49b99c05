#pragma once

#include "ToviAvatarFacePainter.h"
#include "ToviAvatarStore.h"

#include <QColor>
#include <QPointF>
#include <QPointer>
#include <QQuickPaintedItem>
#include <QVariantAnimation>
#include <QtQml/qqmlregistration.h>

// Tovi's face from the avatar store as a round icon, awake or resting, with looking pupils.
// Waking and resting spring; the pupils ease towards a new look.
//
// The awake face grows past its box, so the item is larger than the icon by bleed on every side:
// centre it on the icon's place (anchors.centerIn) rather than filling the place with it.
class ToviAvatarIcon : public QQuickPaintedItem
{
    Q_OBJECT
    QML_ELEMENT
    // Awake (face, eyes, looking pupils) or resting (a disc of restColor with hollow eyes).
    Q_PROPERTY(bool awake READ isAwake WRITE setAwake NOTIFY awakeChanged)
    // Where the pupils look; a vector longer than 1 counts as 1.
    Q_PROPERTY(QPointF look READ look WRITE setLook NOTIFY lookChanged)
    // The resting disc and pupils.
    Q_PROPERTY(QColor restColor READ restColor WRITE setRestColor NOTIFY restColorChanged)
    // The side of the icon in points (24 is the face's own box).
    Q_PROPERTY(qreal size READ size WRITE setSize NOTIFY sizeChanged)
    // Room around the icon for the awake face: (implicit width - size) / 2.
    Q_PROPERTY(qreal bleed READ bleed NOTIFY sizeChanged)

public:
    // The bleed as a share of the size: the awake face reaches 1.65 points past a 24-point box.
    static constexpr double bleedFraction = 1.0 / 12;
    // The spring of waking and resting, and the ease-out of the pupils, in seconds.
    static constexpr double springResponse = 0.32;
    static constexpr double springDampingFraction = 0.5;
    static constexpr double lookEaseOutDuration = 0.12;

    explicit ToviAvatarIcon(QQuickItem *parent = nullptr);

    bool isAwake() const { return m_awake; }
    void setAwake(bool awake);
    QPointF look() const { return m_look; }
    void setLook(QPointF look);
    QColor restColor() const { return m_restColor; }
    void setRestColor(const QColor &color);
    qreal size() const { return m_size; }
    void setSize(qreal size);
    qreal bleed() const { return m_size * bleedFraction; }

    // The store the face comes from: the process's store unless set (tests use their own).
    ToviAvatarStore *store() const { return m_store.store(); }
    void setStore(ToviAvatarStore *store);

    // What is drawn now, part-way through an animation or at rest.
    const ToviAvatarFaceState &shownState() const { return m_shown; }
    bool isAnimating() const;

    // The spring's position (0 to 1, overshooting in between) at a share of the animation.
    static double springProgress(double progress);

    void paint(QPainter *painter) override;

Q_SIGNALS:
    void awakeChanged();
    void lookChanged();
    void restColorChanged();
    void sizeChanged();

private:
    void updateImplicitSize();

    bool m_awake = true;
    QPointF m_look;
    QColor m_restColor = Qt::white;
    qreal m_size = 24;
    ToviAvatarStoreHold m_store;
    ToviAvatarFaceState m_shown;
    QVariantAnimation m_awakeAnimation;
    QVariantAnimation m_lookAnimation;
};
