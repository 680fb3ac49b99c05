#include "MainApplication.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>

using namespace Qt::StringLiterals;

namespace {

struct Text
{
    Q_DECLARE_TR_FUNCTIONS(ZeltControls)
};

// Bus error texts may span lines; the user gets one.
QString oneLine(QString text)
{
    return text.replace(u'\n', u' ').simplified();
}

bool isMissingService(const QString &errorName)
{
    return errorName == "org.freedesktop.DBus.Error.ServiceUnknown"_L1 ||
           errorName == "org.freedesktop.DBus.Error.NameHasNoOwner"_L1 ||
           errorName == "org.freedesktop.DBus.Error.ServiceNotFound"_L1;
}

} // namespace

QVariantMap MainApplication::platformData(const QProcessEnvironment &environment)
{
    const QString activationToken = environment.value(u"XDG_ACTIVATION_TOKEN"_s);
    const QString startupID = environment.value(u"DESKTOP_STARTUP_ID"_s);
    QVariantMap data;
    if (!activationToken.isEmpty() || !startupID.isEmpty()) {
        data.insert(u"activation-token"_s, activationToken.isEmpty() ? startupID : activationToken);
        data.insert(u"desktop-startup-id"_s, startupID.isEmpty() ? activationToken : startupID);
    }
    return data;
}

void MainApplication::activateAction(const QString &action, const QVariantMap &platformData)
{
    auto message =
        QDBusMessage::createMethodCall(serviceName, objectPath, interfaceName, u"ActivateAction"_s);
    message << action << QVariant::fromValue(QVariantList{}) << platformData;
    call(std::move(message));
}

void MainApplication::activate(const QVariantMap &platformData)
{
    auto message =
        QDBusMessage::createMethodCall(serviceName, objectPath, interfaceName, u"Activate"_s);
    message << platformData;
    call(std::move(message));
}

void MainApplication::call(QDBusMessage message)
{
    // Qt's table of registered types must outlive the bus connection's thread, which at exit
    // may still be reading a message (the bus's greeting) and then warns on stderr about types
    // already gone. Statics go in the reverse order of their making: registering a type here,
    // before the connection exists, makes the table first.
    qRegisterMetaType<QDBusMessage>();
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        throw Error(Error::Kind::NoBus,
                    oneLine(Text::tr("Cannot open Zelt: no D-Bus session bus (%1)")
                                .arg(bus.lastError().message())));
    }
    // The bus starts the application for the call when it is installed but not running.
    message.setAutoStartService(true);
    const QDBusMessage reply = bus.call(message, QDBus::Block, callTimeoutMilliseconds);
    if (reply.type() == QDBusMessage::ReplyMessage)
        return;

    const QString name = reply.errorName();
    const QString detail = reply.errorMessage();
    if (isMissingService(name)) {
        throw Error(
            Error::Kind::NotInstalled,
            oneLine(Text::tr("Cannot open Zelt: the Zelt application (%1) is not installed on "
                             "this session bus")
                        .arg(serviceName)));
    }
    if (name.startsWith("org.freedesktop.DBus.Error.Spawn."_L1))
        throw Error(
            Error::Kind::NotStarted,
            oneLine(Text::tr("Cannot open Zelt: it could not be started (%1)").arg(detail)));
    if (name == "org.freedesktop.DBus.Error.NoReply"_L1 ||
        name == "org.freedesktop.DBus.Error.Timeout"_L1) {
        throw Error(Error::Kind::NotStarted,
                    oneLine(Text::tr("Cannot open Zelt: it did not answer (%1)").arg(detail)));
    }
    if (name == "org.freedesktop.DBus.Error.Disconnected"_L1)
        throw Error(
            Error::Kind::NoBus,
            oneLine(Text::tr("Cannot open Zelt: the session bus went away (%1)").arg(detail)));
    throw Error(
        Error::Kind::Refused,
        oneLine(Text::tr("Cannot open Zelt: it refused the request (%1: %2)").arg(name, detail)));
}
