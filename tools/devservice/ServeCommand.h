#pragma once

#include <QStringList>

// `zelt-devservice serve`: runs the development service in the foreground until SIGINT or
// SIGTERM.
class ServeCommand
{
public:
    static int run(const QStringList &arguments);
};
