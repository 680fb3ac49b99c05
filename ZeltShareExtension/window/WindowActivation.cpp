#include "WindowActivation.h"

#include <QGuiApplication>
#include <QWindow>

using namespace Qt::StringLiterals;

namespace {

constexpr const char *waylandToken = "XDG_ACTIVATION_TOKEN";
constexpr const char *startupId = "DESKTOP_STARTUP_ID";

} // namespace

WindowActivation WindowActivation::takeFromEnvironment()
{
    WindowActivation activation;
    activation.m_token = qEnvironmentVariable(waylandToken);
    qunsetenv(waylandToken);
    return activation;
}

void WindowActivation::applicationStarted() const
{
    qunsetenv(startupId);
}

bool WindowActivation::activate(QWindow *window, const QString &token)
{
    if (!window || token.isEmpty() || !QGuiApplication::platformName().startsWith(u"wayland"_s))
        return false;
    qputenv(waylandToken, token.toUtf8());
    window->requestActivate();
    // Still there when Qt had no xdg-activation to send it with.
    const bool sent = !qEnvironmentVariableIsSet(waylandToken);
    qunsetenv(waylandToken);
    return sent;
}
