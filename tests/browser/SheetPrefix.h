#pragma once

#include <QJsonObject>
#include <QList>
#include <QProcessEnvironment>
#include <QString>
#include <QTemporaryDir>

class DevServiceFixture;

// The sheet and the browser host as installed against a development service of the test's own:
// both programs are linked into a prefix (bin/, libexec/) whose bundle configuration names the
// service, so the host starts that prefix's sheet; the environment has XDG directories of the
// prefix's own with the session the main application would have left in the file store, and no
// session bus.
class SheetPrefix
{
public:
    explicit SheetPrefix(DevServiceFixture &service);

    QString path(const QString &name) const { return m_prefix.filePath(name); }
    QString hostProgram() const { return path(QStringLiteral("libexec/zelt-share-browser-host")); }
    // For the host and, through it, the sheet.
    QProcessEnvironment &environment() { return m_environment; }

    // The shares the service stored, in no particular order.
    QList<QJsonObject> storedShares() const;

    // The native messaging manifests for the prefix's host, where a user's browsers look for
    // them: Firefox in ~/.mozilla of home, Chromium in its user data folder (by default
    // $XDG_CONFIG_HOME/chromium).
    void addManifests(const QString &home, const QString &chromiumUserData,
                      const QString &chromiumExtensionId, const QString &geckoId) const;

private:
    DevServiceFixture &m_service;
    QTemporaryDir m_prefix;
    QProcessEnvironment m_environment;
};
