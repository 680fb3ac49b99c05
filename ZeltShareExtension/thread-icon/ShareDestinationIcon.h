#pragma once

#include "avatar/ToviAvatarStore.h"
#include "service/ShareDestination.h"

#include <QColor>
#include <QPointer>
#include <QQuickPaintedItem>
#include <QString>
#include <QtQml/qqmlregistration.h>

// The icon of a destination: Tovi's awake face, or the thread's orb in its colour, in the light
// or dark scheme of what it is drawn on (the application palette unless told).
//
// Like ToviAvatarIcon the item is larger than the icon by bleed on every side, for Tovi's awake
// face: centre it on the icon's place.
class ShareDestinationIcon : public QQuickPaintedItem
{
    Q_OBJECT
    QML_ELEMENT
    // Tovi rather than a thread.
    Q_PROPERTY(bool tovi READ isTovi WRITE setTovi NOTIFY destinationChanged)
    // The thread's id, which shapes its orb.
    Q_PROPERTY(QString threadId READ threadID WRITE setThreadID NOTIFY destinationChanged)
    // The thread's colour: a palette name or "#rrggbb".
    Q_PROPERTY(QString threadColor READ threadColor WRITE setThreadColor NOTIFY destinationChanged)
    // The side of the icon in points.
    Q_PROPERTY(qreal size READ size WRITE setSize NOTIFY sizeChanged)
    Q_PROPERTY(qreal bleed READ bleed NOTIFY sizeChanged)
    // The colour the icon is drawn on, which picks the light or dark scheme: the sheet's own
    // window colour, which a dark sheet sets without touching the application palette. Invalid:
    // the application palette's.
    Q_PROPERTY(QColor background READ background WRITE setBackground NOTIFY backgroundChanged)

public:
    explicit ShareDestinationIcon(QQuickItem *parent = nullptr);

    bool isTovi() const { return m_tovi; }
    void setTovi(bool tovi);
    const QString &threadID() const { return m_thread.id; }
    void setThreadID(const QString &id);
    const QString &threadColor() const { return m_thread.color; }
    void setThreadColor(const QString &color);
    qreal size() const { return m_size; }
    void setSize(qreal size);
    qreal bleed() const;
    const QColor &background() const { return m_background; }
    void setBackground(const QColor &background);

    ShareDestination destination() const;
    void setDestination(const ShareDestination &destination);

    // Where Tovi's face comes from: the process's store unless set.
    void setStore(ToviAvatarStore *store);

    void paint(QPainter *painter) override;

Q_SIGNALS:
    void destinationChanged();
    void sizeChanged();
    void backgroundChanged();

private:
    bool m_tovi = true;
    ShareDestinationThread m_thread;
    qreal m_size = 24;
    QColor m_background;
    ToviAvatarStoreHold m_store;
};
