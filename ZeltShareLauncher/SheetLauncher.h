#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

// Starts the share sheet for a program that another application runs on its behalf (the
// browser's native messaging host, the Share menu's plugin). Those applications wait for their
// helper, or signal its process group when they are done with it, so the sheet must outlive the
// helper on its own: it runs detached, in a session of its own.
class SheetLauncher
{
public:
    // zelt-share of the same prefix (or build tree) as the running program, which lives in the
    // libexec folder of that prefix.
    static QString sheetProgram();

    // Starts program with arguments as a grandchild of this process, in a new session (so the
    // caller's process group and terminal signals never reach it), in "/", with standardInput as
    // its standard input (held in memory, so this returns at once whatever its size), and
    // standard output and error on /dev/null (the caller's own pipes belong to its host), and
    // the caller's environment, with the activation token its host gave it
    // (XDG_ACTIVATION_TOKEN, DESKTOP_STARTUP_ID), which lets the sheet's window come to the
    // front with the focus. Gives nothing once the program has been executed, else why it could
    // not be.
    static std::optional<QString> start(const QString &program, const QStringList &arguments,
                                        const QByteArray &standardInput = {});
};
