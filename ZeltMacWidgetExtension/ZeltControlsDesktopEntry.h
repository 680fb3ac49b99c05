#pragma once

#include <QString>
#include <QStringList>

// The desktop entry app.zelt.ZeltControls.desktop, written from the controls table: one Desktop
// Action per control in bundle order, each running "zelt-controls run KIND". The entry itself
// opens Zelt, so that launchers list it and offer the actions in its menu; the intents have no
// entries of their own.
class ZeltControlsDesktopEntry
{
public:
    static constexpr const char *fileName = "app.zelt.ZeltControls.desktop";

    // The entry's text; executable is the zelt-controls the entry runs, ideally an absolute path.
    static QString text(const QString &executable);

    // One command line as an Exec value: arguments quoted where the desktop entry rules require
    // it, then escaped as a string value ("%" doubled, backslashes doubled).
    static QString execValue(const QStringList &arguments);
};
