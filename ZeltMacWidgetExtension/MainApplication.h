#pragma once

#include <QDBusMessage>
#include <QLatin1StringView>
#include <QProcessEnvironment>
#include <QString>
#include <QVariantMap>

#include <stdexcept>

// The Zelt desktop application as the controls reach it: its org.freedesktop.Application
// interface on the session bus. Calls let the bus start it (D-Bus activation) when it is not
// running, and wait until it has taken the request.
class MainApplication
{
public:
    // Why the application could not be reached; what() and message() are the line the user sees.
    class Error : public std::runtime_error
    {
    public:
        // NotInstalled: nothing on the bus is or can become the application. NotStarted: it
        // is installed but did not start or answer. NoBus: there is no session bus at all.
        enum class Kind { NotInstalled, NotStarted, NoBus, Refused };

        Error(Kind kind, const QString &message)
            : std::runtime_error(message.toStdString())
            , m_kind(kind)
            , m_message(message)
        {}
        Kind kind() const { return m_kind; }
        const QString &message() const { return m_message; }

    private:
        Kind m_kind;
        QString m_message;
    };

    static constexpr QLatin1StringView serviceName{"app.zelt.Zelt"};
    static constexpr QLatin1StringView objectPath{"/app/zelt/Zelt"};
    static constexpr QLatin1StringView interfaceName{"org.freedesktop.Application"};
    // Long enough for the bus to start the application; the session bus gives up on a start
    // after two minutes as well.
    static constexpr int callTimeoutMilliseconds = 120 * 1000;

    // The platform data of a call: the activation token the launcher handed this process
    // (XDG_ACTIVATION_TOKEN on Wayland, DESKTOP_STARTUP_ID on X11), so that the application may
    // raise its window. A token given under one name alone is passed under both keys.
    static QVariantMap platformData(const QProcessEnvironment &environment);

    // ActivateAction(action, [], platformData). Throws Error.
    static void activateAction(const QString &action, const QVariantMap &platformData);
    // Activate(platformData). Throws Error.
    static void activate(const QVariantMap &platformData);

private:
    static void call(QDBusMessage message);
};
