#pragma once

#include <QString>

// A notification of the desktop (org.freedesktop.Notifications on the session bus), for what a
// control started from a launcher has to say: it has no terminal to say it on.
class DesktopNotification
{
public:
    static constexpr int callTimeoutMilliseconds = 5000;

    // Shows summary and body as coming from the controls' desktop entry. False when no
    // notification service took it (none on the bus, or no bus).
    static bool show(const QString &summary, const QString &body);
};
