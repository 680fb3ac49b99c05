#pragma once

#include <QJsonObject>
#include <QMetaType>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <sys/types.h>

class DevServiceFixture;

// A display of the test's own for the sheet's windows, and xdotool on it:
// - X11: Xvfb, on the display it picks itself;
// - Wayland: weston with its desktop shell, nested in an Xvfb of its own through its X11
//   backend, whose seat gets what xdotool sends to that Xvfb; the output is the sheet's size, so
//   that the shell places the sheet at its origin and window coordinates are the screen's;
// - WaylandWithoutSeat: weston's headless backend, which has no seat (no input reaches it);
// - WaylandServerDecorations: sway, headless, which decorates windows itself (xdg-decoration)
//   and activates them with a token it issued (xdg-activation); it has a seat but no input
//   devices, tells what it shows (its tree), and floats the sheet without giving it the focus
//   on its own, so that only an activation can.
// When it stops, every window still on it goes too, and the sheets that showed them end.
class VirtualDisplay
{
public:
    enum class Platform { X11, Wayland, WaylandWithoutSeat, WaylandServerDecorations };

    explicit VirtualDisplay(Platform platform = Platform::X11);
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay &) = delete;
    VirtualDisplay &operator=(const VirtualDisplay &) = delete;

    // Whether what the platform needs is installed (Xvfb and xdotool, weston, sway).
    static bool toolsInstalled(Platform platform = Platform::X11);
    // For a data row: "X11", "Wayland", "Wayland without a seat", …
    static const char *name(Platform platform);

    Platform platform() const { return m_platform; }
    // Whether the display is up.
    bool isReady() const;
    // The X server xdotool talks to: the windows' own on X11, the compositor's on Wayland; empty
    // without a seat, or when the server did not start.
    QString display() const { return m_display; }
    // The compositor's socket (an absolute path); empty on X11.
    QString waylandDisplay() const { return m_waylandDisplay; }

    // Lets the programs started with environment show their windows here: the display, and Qt's
    // platform for it.
    void addTo(QProcessEnvironment &environment) const;

    // xdotool's output for the arguments.
    QString xdotool(const QStringList &arguments) const;

    // The sheet that shows its window here.
    struct Sheet
    {
        pid_t process = 0;
        // The X11 window; empty on Wayland.
        QString window;
    };
    // Waits for a sheet's window on X11, and for a sheet connected to the compositor on Wayland
    // (which tells no one what windows it shows). A process of 0 when none came in time.
    Sheet waitForSheet(int timeout) const;
    // What the sheet was started with: the value of an environment variable when it started (a
    // null array when it had none).
    static QByteArray startedWith(const Sheet &sheet, const QByteArray &variable);
    // The launch that the sheet's X11 window names (_NET_STARTUP_ID), as xprop prints it.
    QString startupId(const Sheet &sheet) const;
    // Whether the sheet still shows its window (on Wayland: whether it still runs).
    bool isShowing(const Sheet &sheet) const;
    // A click at x, y in the sheet's window.
    void click(const Sheet &sheet, int x, int y) const;
    // Keys (xdotool's names) to the window that has the focus.
    void key(const QStringList &keys) const;
    // Text typed into the window that has the focus.
    void type(const QString &text) const;
    // The whole screen into a PNG file.
    bool screenshot(const QString &path) const;

    // With sway: the node of the sheet's window in its tree (name, focused, border: "normal"
    // for its own title bar, "csd" for a client's), empty when it shows none.
    QJsonObject windowOf(const Sheet &sheet) const;
    // With sway: a window of another program that has the focus, as the file manager's has when
    // the user picks "Send to Zelt".
    bool showOtherWindow();
    // With sway: closes the sheet's window, as its title bar's close button does.
    void closeWindow(const Sheet &sheet) const;
    // An activation token that the compositor issues, as a launcher asks for one; empty where
    // it issues none.
    QString activationToken() const;

    // Sends the share in the sheet with Ctrl+Return once the service has answered its
    // destinations, and waits until the service has the share and the sheet has ended. False,
    // with why in the test's log, when that did not happen.
    bool sendFromSheet(const DevServiceFixture &service, int timeout) const;

private:
    bool startXvfb(const QString &screen);
    bool startWeston(bool nested);
    bool startSway();
    QJsonObject tree() const;

    Platform m_platform;
    QProcess m_server;
    QProcess m_compositor;
    QProcess m_otherWindow;
    QString m_swaySocket;
    std::unique_ptr<QTemporaryDir> m_runtime;
    QString m_xdotool;
    QString m_display;
    QString m_waylandDisplay;
    // Weston's X11 backend moves its pointer by the X pointer's relative motion: the first click
    // first brings both to the same place.
    mutable bool m_pointerAligned = false;
};

Q_DECLARE_METATYPE(VirtualDisplay::Platform)
