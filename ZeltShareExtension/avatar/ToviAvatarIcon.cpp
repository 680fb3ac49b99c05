#include "ToviAvatarIcon.h"

#include "ToviAvatarStore.h"

#include <QEasingCurve>

#include <cmath>
#include <numbers>

namespace {

// The spring settles (within 0.1 %) in about 0.7 s; the animation runs a little longer.
constexpr double springDuration = 0.75;

QEasingCurve springCurve()
{
    QEasingCurve curve;
    curve.setCustomType(&ToviAvatarIcon::springProgress);
    return curve;
}

QEasingCurve easeOutCurve()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0, 0), QPointF(0.58, 1), QPointF(1, 1));
    return curve;
}

int milliseconds(double seconds)
{
    return int(std::lround(seconds * 1000));
}

} // namespace

ToviAvatarIcon::ToviAvatarIcon(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
    m_shown = {1, m_look, m_restColor};
    updateImplicitSize();
    setStore(&ToviAvatarStore::shared());

    m_awakeAnimation.setDuration(milliseconds(springDuration));
    m_awakeAnimation.setEasingCurve(springCurve());
    connect(&m_awakeAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) {
                m_shown.awakeness = value.toDouble();
                update();
            });
    m_lookAnimation.setDuration(milliseconds(lookEaseOutDuration));
    m_lookAnimation.setEasingCurve(easeOutCurve());
    connect(&m_lookAnimation, &QVariantAnimation::valueChanged, this,
            [this](const QVariant &value) {
                m_shown.look = value.toPointF();
                update();
            });
}

double ToviAvatarIcon::springProgress(double progress)
{
    if (progress >= 1)
        return 1;
    // An underdamped spring released from 0 towards 1.
    const double t = progress * springDuration;
    const double omega = 2 * std::numbers::pi / springResponse;
    const double zeta = springDampingFraction;
    const double damped = omega * std::sqrt(1 - zeta * zeta);
    const double decay = std::exp(-zeta * omega * t);
    return 1 - decay * (std::cos(damped * t) + zeta * omega / damped * std::sin(damped * t));
}

bool ToviAvatarIcon::isAnimating() const
{
    return m_awakeAnimation.state() == QAbstractAnimation::Running ||
           m_lookAnimation.state() == QAbstractAnimation::Running;
}

void ToviAvatarIcon::setAwake(bool awake)
{
    if (m_awake == awake)
        return;
    m_awake = awake;
    const double target = awake ? 1 : 0;
    m_awakeAnimation.stop();
    if (isComponentComplete() && window() && isVisible()) {
        m_awakeAnimation.setStartValue(m_shown.awakeness);
        m_awakeAnimation.setEndValue(target);
        m_awakeAnimation.start();
    } else {
        m_shown.awakeness = target;
        update();
    }
    Q_EMIT awakeChanged();
}

void ToviAvatarIcon::setLook(QPointF look)
{
    if (m_look == look)
        return;
    m_look = look;
    m_lookAnimation.stop();
    if (isComponentComplete() && window() && isVisible()) {
        m_lookAnimation.setStartValue(m_shown.look);
        m_lookAnimation.setEndValue(look);
        m_lookAnimation.start();
    } else {
        m_shown.look = look;
        update();
    }
    Q_EMIT lookChanged();
}

void ToviAvatarIcon::setRestColor(const QColor &color)
{
    if (m_restColor == color)
        return;
    m_restColor = color;
    m_shown.restColor = color;
    update();
    Q_EMIT restColorChanged();
}

void ToviAvatarIcon::setSize(qreal size)
{
    if (qFuzzyCompare(m_size, size) || size < 0)
        return;
    m_size = size;
    updateImplicitSize();
    update();
    Q_EMIT sizeChanged();
}

void ToviAvatarIcon::updateImplicitSize()
{
    const qreal side = m_size + 2 * bleed();
    setImplicitSize(side, side);
}

void ToviAvatarIcon::setStore(ToviAvatarStore *store)
{
    if (m_store.hold(store, this, [this] { update(); }))
        update();
}

void ToviAvatarIcon::paint(QPainter *painter)
{
    const QRectF bounds = boundingRect();
    const QRectF box(bounds.center().x() - m_size / 2, bounds.center().y() - m_size / 2, m_size,
                     m_size);
    if (const auto *store = m_store.store()) {
        ToviAvatarFacePainter::paint(*painter, box, m_shown, store->avatar().face, store->image());
    } else {
        ToviAvatarFacePainter::paint(*painter, box, m_shown, ToviAvatar::classic().face, {});
    }
}
