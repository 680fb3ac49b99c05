#include "SharedStateNotifier.h"

#include "AppIdentifiers.h"

#include <QDBusConnection>
#include <QDBusMessage>

bool SharedStateNotifier::post()
{
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected())
        return false;
    const auto signal = QDBusMessage::createSignal(AppIdentifiers::sharedStateObjectPath,
                                                   AppIdentifiers::sharedStateInterface,
                                                   AppIdentifiers::sharedStateSignal);
    return bus.send(signal);
}
