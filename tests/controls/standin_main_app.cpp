// The stand-in Zelt application of the controls tests.
//
// Usage: zelt-standin-main-app RECORD_FILE [--once]
//
// Owns app.zelt.Zelt on the session bus and serves /app/zelt/Zelt; prints "ready" once it does.
// With --once it quits after the first call (as a bus-activated copy should, so that it does
// not outlive the test), and after a minute without one.

#include "StandInApplication.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusError>
#include <QTimer>

#include <cstdio>

using namespace Qt::StringLiterals;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 2 || arguments.size() > 3 ||
        (arguments.size() == 3 && arguments[2] != "--once"_L1)) {
        std::fprintf(stderr, "usage: zelt-standin-main-app RECORD_FILE [--once]\n");
        return 2;
    }
    const bool once = arguments.size() == 3;

    StandInApplication application(arguments[1]);
    auto bus = QDBusConnection::sessionBus();
    if (!bus.registerObject(u"/app/zelt/Zelt"_s, &application, QDBusConnection::ExportAllSlots) ||
        !bus.registerService(u"app.zelt.Zelt"_s)) {
        std::fprintf(stderr, "stand-in: cannot own app.zelt.Zelt: %s\n",
                     qPrintable(bus.lastError().message()));
        return 1;
    }
    if (once) {
        // The reply goes out when the slot returns; quitting is queued behind it.
        QObject::connect(&application, &StandInApplication::called, &app, &QCoreApplication::quit,
                         Qt::QueuedConnection);
        QTimer::singleShot(std::chrono::minutes(1), &app, &QCoreApplication::quit);
    }
    std::printf("ready\n");
    std::fflush(stdout);
    return app.exec();
}
