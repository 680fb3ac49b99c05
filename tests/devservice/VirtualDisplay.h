#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

class DevServiceFixture;

// An X server of the test's own (Xvfb on the display it picks itself) and xdotool on it. When it
// stops, every window still on it goes too, and the sheets that showed them end.
class VirtualDisplay
{
public:
    VirtualDisplay();
    ~VirtualDisplay();
    VirtualDisplay(const VirtualDisplay &) = delete;
    VirtualDisplay &operator=(const VirtualDisplay &) = delete;

    // Whether Xvfb and xdotool are installed.
    static bool toolsInstalled();

    // Empty when Xvfb or xdotool is missing, or the server did not start.
    QString display() const { return m_display; }

    // xdotool's output for the arguments.
    QString xdotool(const QStringList &arguments) const;

    // Sends the share in the "Send to Zelt" window with Ctrl+Return once the service has answered
    // its destinations, and waits until the service has the share and the sheet has ended. False,
    // with why in the test's log, when that did not happen.
    bool sendFromSheet(const DevServiceFixture &service, int timeout) const;

private:
    QProcess m_server;
    QString m_xdotool;
    QString m_display;
};
