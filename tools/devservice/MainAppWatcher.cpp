#include "MainAppWatcher.h"

#include "DevCommandLine.h"
#include "service/AppIdentifiers.h"
#include "service/NativeSharedSession.h"
#include "service/SessionKeychain.h"
#include "service/UserDefaults.h"

#include <QCoreApplication>
#include <QDBusArgument>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusVariant>
#include <QDateTime>

using namespace Qt::StringLiterals;

namespace {

// The application object of app.zelt.Zelt by the desktop's rule: the ID with "." as "/".
const QString applicationPath = u"/app/zelt/Zelt"_s;
const QString applicationInterface = u"org.freedesktop.Application"_s;

QString describe(const QVariant &value);

QString describeArgument(const QDBusArgument &argument)
{
    switch (argument.currentType()) {
    case QDBusArgument::ArrayType: {
        QStringList items;
        argument.beginArray();
        while (!argument.atEnd())
            items.append(describe(argument.asVariant()));
        argument.endArray();
        return u'[' + items.join(u", "_s) + u']';
    }
    case QDBusArgument::MapType: {
        QStringList items;
        argument.beginMap();
        while (!argument.atEnd()) {
            argument.beginMapEntry();
            const auto key = describe(argument.asVariant());
            const auto value = describe(argument.asVariant());
            argument.endMapEntry();
            items.append(key + u": "_s + value);
        }
        argument.endMap();
        return u'{' + items.join(u", "_s) + u'}';
    }
    case QDBusArgument::StructureType: {
        QStringList items;
        argument.beginStructure();
        while (!argument.atEnd())
            items.append(describe(argument.asVariant()));
        argument.endStructure();
        return u'(' + items.join(u", "_s) + u')';
    }
    default:
        return describe(argument.asVariant());
    }
}

QString describe(const QVariant &value)
{
    if (value.metaType() == QMetaType::fromType<QDBusArgument>())
        return describeArgument(qvariant_cast<QDBusArgument>(value));
    if (value.metaType() == QMetaType::fromType<QDBusVariant>())
        return describe(qvariant_cast<QDBusVariant>(value).variant());
    if (value.metaType() == QMetaType::fromType<QString>())
        return u'"' + value.toString() + u'"';
    if (value.metaType() == QMetaType::fromType<QStringList>())
        return u"[\""_s + value.toStringList().join(u"\", \""_s) + u"\"]"_s;
    if (value.metaType() == QMetaType::fromType<QByteArray>())
        return u"bytes:"_s + QString::fromLatin1(value.toByteArray().toHex());
    return value.toString();
}

} // namespace

MainAppWatcher::MainAppWatcher(BundleConfiguration configuration, QTextStream &out)
    : m_configuration(std::move(configuration))
    , m_out(out)
{}

void MainAppWatcher::print(const QString &line)
{
    m_out << QDateTime::currentDateTime().toString(u"HH:mm:ss.zzz"_s) << u' ' << line << Qt::endl;
}

bool MainAppWatcher::start(QString *error)
{
    auto bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        *error = u"no session bus"_s;
        return false;
    }
    const QString name = AppIdentifiers::mainApplicationIdentifier;
    const auto reply =
        bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (!reply.isValid() || reply.value() != QDBusConnectionInterface::ServiceRegistered) {
        *error = u"cannot own %1 (is the main application or another watch running?)"_s.arg(name);
        return false;
    }
    // Every path answers, so a call on an unexpected path shows up too.
    if (!bus.registerVirtualObject(u"/"_s, this, QDBusConnection::SubPath)) {
        *error = u"cannot register the application object"_s;
        return false;
    }
    if (!bus.connect(QString(), AppIdentifiers::sharedStateObjectPath,
                     AppIdentifiers::sharedStateInterface, AppIdentifiers::sharedStateSignal, this,
                     SLOT(onSharedStateChanged(QDBusMessage)))) {
        *error = u"cannot subscribe to the shared-state signal"_s;
        return false;
    }
    print(u"watching: owns %1 on the session bus; shared-state signal %2.%3"_s.arg(
        name, QString(AppIdentifiers::sharedStateInterface),
        QString(AppIdentifiers::sharedStateSignal)));
    reportSharedState(true);
    return true;
}

QString MainAppWatcher::introspect(const QString &path) const
{
    if (path != applicationPath)
        return {};
    return uR"(<interface name="org.freedesktop.Application">
  <method name="Activate"><arg type="a{sv}" name="platform_data" direction="in"/></method>
  <method name="Open"><arg type="as" name="uris" direction="in"/><arg type="a{sv}" name="platform_data" direction="in"/></method>
  <method name="ActivateAction"><arg type="s" name="action_name" direction="in"/><arg type="av" name="parameter" direction="in"/><arg type="a{sv}" name="platform_data" direction="in"/></method>
</interface>)"_s;
}

bool MainAppWatcher::handleMessage(const QDBusMessage &message, const QDBusConnection &connection)
{
    if (message.type() != QDBusMessage::MethodCallMessage)
        return false;
    const auto arguments = message.arguments();
    QString line;
    if (message.interface() == applicationInterface && message.member() == u"ActivateAction"_s &&
        arguments.size() == 3) {
        line = u"ActivateAction %1 parameter=%2 platform-data=%3"_s.arg(
            describe(arguments.at(0)), describe(arguments.at(1)), describe(arguments.at(2)));
    } else {
        QStringList described;
        for (const auto &argument : arguments)
            described.append(describe(argument));
        line = u"%1.%2(%3)"_s.arg(message.interface(), message.member(), described.join(u", "_s));
    }
    if (message.path() != applicationPath)
        line += u" on %1"_s.arg(message.path());
    if (!message.service().isEmpty())
        line += u" from "_s + message.service();
    print(line);
    connection.send(message.createReply());
    return true;
}

void MainAppWatcher::onSharedStateChanged(const QDBusMessage &message)
{
    print(u"shared-state Changed from %1"_s.arg(message.service()));
    reportSharedState(false);
}

void MainAppWatcher::reportSharedState(bool always)
{
    const auto defaults = UserDefaults::shared(m_configuration);
    const auto stamp = defaults->value(AppIdentifiers::passkeyRequestedAtKey);
    std::optional<double> requestedAt;
    bool numeric = false;
    if (const double seconds = stamp.toDouble(&numeric); stamp.isValid() && numeric)
        requestedAt = seconds;
    if (always || requestedAt != m_passkeyRequestedAt) {
        if (requestedAt) {
            const auto when = QDateTime::fromMSecsSinceEpoch(qint64(*requestedAt * 1000), Qt::UTC);
            print(u"passkey hand-off requested at %1 (%2)"_s.arg(*requestedAt, 0, 'f', 3)
                      .arg(when.toString(Qt::ISODateWithMs)));
        } else {
            print(u"passkey hand-off: none requested"_s);
        }
        m_passkeyRequestedAt = requestedAt;
    }

    const auto keychain = SessionKeychain::create(m_configuration);
    const auto data = keychain ? keychain->read() : std::nullopt;
    const auto session = data ? NativeSharedSession::fromJson(*data) : std::nullopt;
    const auto fingerprint = session ? session->fingerprint() : QByteArray();
    if (always || fingerprint != m_sessionFingerprint) {
        if (session) {
            print(u"session item: %1 for %2, fingerprint %3, %4 superseded values"_s
                      .arg(session->cookieName, session->baseOrigin,
                           QString::fromLatin1(fingerprint.toHex().left(16)))
                      .arg(session->supersededCookieValues.value_or(QStringList()).size()));
        } else {
            print(u"session item: none"_s);
        }
        m_sessionFingerprint = fingerprint;
    }
}

int MainAppWatcher::run(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        u"Stands in for the running main application on the session bus and prints what "
        u"reaches it."_s);
    DevCommandLine::addBundleOption(parser);
    if (!DevCommandLine::parse(parser, arguments))
        return 2;
    QTextStream out(stdout);
    MainAppWatcher watcher(DevCommandLine::bundle(parser), out);
    QString error;
    if (!watcher.start(&error)) {
        DevCommandLine::error(error);
        return 1;
    }
    return QCoreApplication::exec();
}
