// Writes app.zelt.ZeltControls.desktop from the controls table; run by the build.
//
// Usage: zelt-controls-desktop-entry EXECUTABLE OUTPUT

#include "ZeltControlsDesktopEntry.h"

#include <QFile>
#include <QString>

#include <cstdio>

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s EXECUTABLE OUTPUT\n", argv[0]);
        return 2;
    }
    const QString executable = QString::fromLocal8Bit(argv[1]);
    QFile output(QString::fromLocal8Bit(argv[2]));
    if (!output.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        output.write(ZeltControlsDesktopEntry::text(executable).toUtf8()) < 0 || !output.flush()) {
        std::fprintf(stderr, "could not write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
