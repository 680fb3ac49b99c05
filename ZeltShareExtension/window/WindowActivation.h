#pragma once

#include <QByteArray>
#include <QString>

class QWindow;

// The activation token of the program that started the sheet (a file manager, the browser host,
// the Share menu's helper): with it the window system lets the sheet take the focus that the
// user's click in that program gave away. XDG_ACTIVATION_TOKEN on Wayland (xdg-activation),
// DESKTOP_STARTUP_ID on X11 (startup notification). A token is good for one window, so neither
// may reach a program that the sheet starts.
class WindowActivation
{
public:
    // Before the application exists: takes XDG_ACTIVATION_TOKEN out of the environment, and
    // reads DESKTOP_STARTUP_ID, which stays for Qt's X11 platform: that takes it out itself when
    // it connects, and ends the launch's feedback when the first window shows.
    static WindowActivation takeFromEnvironment();
    // Once the application exists: DESKTOP_STARTUP_ID goes too where no X11 platform took it.
    void applicationStarted() const;

    QString token() const { return m_token; }
    QByteArray startupId() const { return m_startupId; }

    // Before window is first shown, on X11: names the launch on it (_NET_STARTUP_ID), which a
    // window manager reads when the window maps to tell that the user asked for it. Qt 6.4 does
    // not set it, so without this a window manager that prevents focus stealing would judge the
    // sheet a window that nobody asked for.
    bool nameLaunch(QWindow *window) const;

    // Once window is mapped (its first frame is up: a compositor ignores a token for a surface
    // it does not show yet), on Wayland: asks the compositor to activate it with the token.
    // Qt 6.4 sends xdg_activation_v1.activate only from QWindow::requestActivate(), only with a
    // token it finds in the environment (which it then removes), and only when the compositor
    // offers xdg-activation; so the token is put there for that call alone. Gives whether the
    // request went out.
    bool activate(QWindow *window) const;

private:
    QString m_token;
    QByteArray m_startupId;
};
