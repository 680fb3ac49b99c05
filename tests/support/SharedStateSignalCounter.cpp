#include "SharedStateSignalCounter.h"

#include "service/AppIdentifiers.h"

#include <QDBusConnection>
#include <QDBusMessage>
#include <QTest>

using namespace Qt::StringLiterals;

SharedStateSignalCounter::SharedStateSignalCounter(QObject *parent)
    : QObject(parent)
{
    auto bus = QDBusConnection::sessionBus();
    // Only this process's own signals: other test processes share the bus.
    m_listening =
        bus.isConnected() &&
        bus.connect(bus.baseService(), AppIdentifiers::sharedStateObjectPath,
                    AppIdentifiers::sharedStateInterface, AppIdentifiers::sharedStateSignal, this,
                    SLOT(onSharedStateChanged())) &&
        bus.connect(bus.baseService(), AppIdentifiers::sharedStateObjectPath, u"test.Marker"_s,
                    u"Marker"_s, this, SLOT(onMarker()));
}

int SharedStateSignalCounter::count()
{
    m_markerSeen = false;
    QDBusConnection::sessionBus().send(QDBusMessage::createSignal(
        AppIdentifiers::sharedStateObjectPath, u"test.Marker"_s, u"Marker"_s));
    if (!QTest::qWaitFor([this] { return m_markerSeen; }, 5000))
        return -1;
    return m_signals;
}
