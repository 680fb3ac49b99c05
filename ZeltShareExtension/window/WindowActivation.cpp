#include "WindowActivation.h"

#include <QGuiApplication>
#include <QWindow>

#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

using namespace Qt::StringLiterals;

namespace {

constexpr const char *waylandToken = "XDG_ACTIVATION_TOKEN";
constexpr const char *startupIdVariable = "DESKTOP_STARTUP_ID";

xcb_atom_t atom(xcb_connection_t *connection, const char *name)
{
    const auto cookie = xcb_intern_atom(connection, 0, uint16_t(std::strlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(connection, cookie, nullptr);
    const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    std::free(reply);
    return value;
}

} // namespace

WindowActivation WindowActivation::takeFromEnvironment()
{
    WindowActivation activation;
    activation.m_token = qEnvironmentVariable(waylandToken);
    activation.m_startupId = qgetenv(startupIdVariable);
    qunsetenv(waylandToken);
    return activation;
}

void WindowActivation::applicationStarted() const
{
    qunsetenv(startupIdVariable);
}

bool WindowActivation::nameLaunch(QWindow *window) const
{
    if (!window || m_startupId.isEmpty())
        return false;
    auto *x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    if (!x11 || !x11->connection())
        return false;
    xcb_connection_t *connection = x11->connection();
    const xcb_atom_t property = atom(connection, "_NET_STARTUP_ID");
    const xcb_atom_t utf8 = atom(connection, "UTF8_STRING");
    if (property == XCB_ATOM_NONE || utf8 == XCB_ATOM_NONE)
        return false;
    xcb_change_property(connection, XCB_PROP_MODE_REPLACE, xcb_window_t(window->winId()), property,
                        utf8, 8, uint32_t(m_startupId.size()), m_startupId.constData());
    xcb_flush(connection);
    return true;
}

bool WindowActivation::activate(QWindow *window) const
{
    if (!window || m_token.isEmpty() || !QGuiApplication::platformName().startsWith(u"wayland"_s))
        return false;
    qputenv(waylandToken, m_token.toUtf8());
    window->requestActivate();
    // Still there when Qt had no xdg-activation to send it with.
    const bool sent = !qEnvironmentVariableIsSet(waylandToken);
    qunsetenv(waylandToken);
    return sent;
}
