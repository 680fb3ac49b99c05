#include "DesktopNotification.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QVariantMap>

using namespace Qt::StringLiterals;

bool DesktopNotification::show(const QString &summary, const QString &body)
{
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    auto message = QDBusMessage::createMethodCall(u"org.freedesktop.Notifications"_s,
                                                  u"/org/freedesktop/Notifications"_s,
                                                  u"org.freedesktop.Notifications"_s, u"Notify"_s);
    // The entry names the application and its icon for the desktop.
    const QVariantMap hints{{u"desktop-entry"_s, u"app.zelt.ZeltControls"_s},
                            {u"urgency"_s, QVariant::fromValue(uchar(1))}};
    message << u"Zelt"_s << uint(0) << u"app.zelt.ZeltControls"_s << summary << body
            << QStringList() << hints << int(-1);
    // A desktop that has notifications runs (or starts) its service on this bus.
    message.setAutoStartService(true);
    const QDBusMessage reply = bus.call(message, QDBus::Block, callTimeoutMilliseconds);
    return reply.type() == QDBusMessage::ReplyMessage;
}
