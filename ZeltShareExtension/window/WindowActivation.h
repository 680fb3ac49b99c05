#pragma once

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
    // Before the application exists: takes XDG_ACTIVATION_TOKEN out of the environment.
    // DESKTOP_STARTUP_ID stays for Qt's X11 platform, which takes it out itself when it connects
    // and names it on the first window it shows.
    static WindowActivation takeFromEnvironment();
    // Once the application exists: DESKTOP_STARTUP_ID goes too where no X11 platform took it.
    void applicationStarted() const;

    QString token() const { return m_token; }

    // Asks the compositor to activate window with the token; on Wayland only, once the window is
    // mapped (a compositor ignores a token for a surface it does not show yet). Qt 6.4 sends
    // xdg_activation_v1.activate only from QWindow::requestActivate(), and only with a token
    // found in the environment, which it removes; so the token is there for that call alone.
    // Gives whether the request went out; never when the compositor has no xdg-activation.
    static bool activate(QWindow *window, const QString &token);

private:
    QString m_token;
};
