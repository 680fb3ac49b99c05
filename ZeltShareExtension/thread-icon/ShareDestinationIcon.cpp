#include "ShareDestinationIcon.h"

#include "ApplicationColorScheme.h"
#include "ShareDestinationIconPainter.h"
#include "avatar/ToviAvatarIcon.h"
#include "avatar/ToviAvatarStore.h"

ShareDestinationIcon::ShareDestinationIcon(QQuickItem *parent)
    : QQuickPaintedItem(parent)
{
    setAntialiasing(true);
    const qreal side = m_size + 2 * bleed();
    setImplicitSize(side, side);
    setStore(&ToviAvatarStore::shared());
    connect(&ApplicationColorScheme::instance(), &ApplicationColorScheme::changed, this,
            [this] { update(); });
}

qreal ShareDestinationIcon::bleed() const
{
    return m_size * ToviAvatarIcon::bleedFraction;
}

void ShareDestinationIcon::setTovi(bool tovi)
{
    if (m_tovi == tovi)
        return;
    m_tovi = tovi;
    update();
    Q_EMIT destinationChanged();
}

void ShareDestinationIcon::setThreadID(const QString &id)
{
    if (m_thread.id == id)
        return;
    m_thread.id = id;
    update();
    Q_EMIT destinationChanged();
}

void ShareDestinationIcon::setThreadColor(const QString &color)
{
    if (m_thread.color == color)
        return;
    m_thread.color = color;
    update();
    Q_EMIT destinationChanged();
}

void ShareDestinationIcon::setSize(qreal size)
{
    if (qFuzzyCompare(m_size, size) || size < 0)
        return;
    m_size = size;
    const qreal side = m_size + 2 * bleed();
    setImplicitSize(side, side);
    update();
    Q_EMIT sizeChanged();
}

void ShareDestinationIcon::setBackground(const QColor &background)
{
    if (m_background == background)
        return;
    m_background = background;
    update();
    Q_EMIT backgroundChanged();
}

ShareDestination ShareDestinationIcon::destination() const
{
    if (m_tovi)
        return ShareDestination::tovi();
    return m_thread;
}

void ShareDestinationIcon::setDestination(const ShareDestination &destination)
{
    if (const auto *thread = destination.thread()) {
        const bool changed = m_tovi || m_thread.id != thread->id || m_thread.color != thread->color;
        m_tovi = false;
        m_thread = *thread;
        if (!changed)
            return;
    } else {
        if (m_tovi)
            return;
        m_tovi = true;
    }
    update();
    Q_EMIT destinationChanged();
}

void ShareDestinationIcon::setStore(ToviAvatarStore *store)
{
    if (m_store.hold(store, this, [this] { update(); }))
        update();
}

void ShareDestinationIcon::paint(QPainter *painter)
{
    const QRectF bounds = boundingRect();
    const QRectF box(bounds.center().x() - m_size / 2, bounds.center().y() - m_size / 2, m_size,
                     m_size);
    const auto *store = m_store.store();
    const ToviAvatar &avatar = store ? store->avatar() : ToviAvatar::classic();
    const QImage image = store ? store->image() : QImage();
    // Dark on a dark background: lighter than half, the text on it is dark.
    const auto scheme = !m_background.isValid()           ? ApplicationColorScheme::current()
                        : m_background.lightnessF() < 0.5 ? ThreadIconColorScheme::Dark
                                                          : ThreadIconColorScheme::Light;
    ShareDestinationIconPainter::paint(*painter, box, destination(), scheme, avatar, image);
}
