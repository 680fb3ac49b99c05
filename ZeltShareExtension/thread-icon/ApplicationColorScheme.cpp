#include "ApplicationColorScheme.h"

#include <QEvent>
#include <QGuiApplication>

ThreadIconColorScheme ApplicationColorScheme::of(const QPalette &palette)
{
    return palette.color(QPalette::Window).lightnessF() <
                   palette.color(QPalette::WindowText).lightnessF()
               ? ThreadIconColorScheme::Dark
               : ThreadIconColorScheme::Light;
}

ThreadIconColorScheme ApplicationColorScheme::current()
{
    return of(QGuiApplication::palette());
}

ApplicationColorScheme &ApplicationColorScheme::instance()
{
    static ApplicationColorScheme *watcher = new ApplicationColorScheme;
    return *watcher;
}

ApplicationColorScheme::ApplicationColorScheme()
{
    // The application is told of a new palette through an event sent to itself.
    if (auto *application = QCoreApplication::instance()) {
        setParent(application);
        application->installEventFilter(this);
    }
}

bool ApplicationColorScheme::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == QCoreApplication::instance() &&
        event->type() == QEvent::ApplicationPaletteChange) {
        Q_EMIT changed();
    }
    return false;
}
