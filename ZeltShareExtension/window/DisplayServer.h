#pragma once

#include <QString>

// What the sheet needs to know of a Wayland compositor before Qt connects to it, asked on a
// short connection of its own: Qt 6.4 settles the input method while it connects, and how the
// window is framed depends on what the compositor offers.
class DisplayServer
{
public:
    // How the sheet's window carries its title and close affordance.
    enum class WindowFrame {
        // The window system frames the window as it frames any other (X11's window manager); the
        // toolbar shows the title.
        System,
        // The compositor draws the title bar (xdg-decoration): the toolbar leaves the title to it.
        ServerDecorated,
        // Nothing draws a frame (a compositor without xdg-decoration, which expects its clients
        // to draw their own): the toolbar is the title bar, with the title and Cancel, and it
        // moves the window; the window's edges resize it.
        Sheet,
    };

    // Asks the compositor of WAYLAND_DISPLAY (Qt's default, wayland-0, without it) for its
    // globals. Not reachable when there is no compositor; not probed when WAYLAND_SOCKET hands
    // over a connection that only Qt may take, or when the compositor does not answer.
    static DisplayServer probe();

    // Before the application exists, when there is a window to show: keeps a seat-less
    // compositor from crashing the sheet. Qt 6.4's Wayland input method (text-input) reaches
    // the first seat without checking that there is one, as soon as a text field takes the
    // focus; where there is no seat, or whether there is cannot be known, the sheet takes the
    // compose input method, which is Qt's own fallback, needs no seat, and loses nothing there
    // (without a seat no key reaches the sheet). A chosen QT_IM_MODULE is left as it is: Qt
    // never takes the text-input path then. What is set here is taken out of the environment
    // again by applicationStarted(), so that it reaches no other program.
    static DisplayServer prepare();
    void applicationStarted() const;

    // The frame for the platform Qt chose ("wayland", "xcb", …).
    WindowFrame windowFrame(const QString &platformName) const;

    bool reachable() const { return m_reachable; }
    bool probed() const { return m_probed; }
    bool hasSeat() const { return m_seat; }
    bool hasDecorationManager() const { return m_decorationManager; }
    bool hasActivation() const { return m_activation; }
    // Whether prepare() chose the input method.
    bool choseInputMethod() const { return m_choseInputMethod; }

private:
    bool m_reachable = false;
    bool m_probed = false;
    bool m_seat = false;
    bool m_decorationManager = false;
    bool m_activation = false;
    bool m_choseInputMethod = false;
};
