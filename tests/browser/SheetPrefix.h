#pragma once

#include "InstalledShare.h"

#include <QString>

// The sheet and the browser host as installed against a development service of the test's own
// (see InstalledShare): the host in the prefix's libexec starts the prefix's sheet, and the
// environment has a home of the prefix's own and no display but the one a test adds.
class SheetPrefix : public InstalledShare
{
public:
    explicit SheetPrefix(DevServiceFixture &service);

    QString hostProgram() const { return path(QStringLiteral("libexec/zelt-share-browser-host")); }

    // The native messaging manifests for the prefix's host, where a user's browsers look for
    // them: Firefox in ~/.mozilla of home, Chromium in its user data folder (by default
    // $XDG_CONFIG_HOME/chromium).
    void addManifests(const QString &home, const QString &chromiumUserData,
                      const QString &chromiumExtensionId, const QString &geckoId) const;
};
