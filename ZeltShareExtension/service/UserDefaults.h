#pragma once

#include <QSettings>

#include <memory>

class BundleConfiguration;

// The two defaults stores: the extension's own and the suite it shares with the main
// application. Both are INI files under $XDG_CONFIG_HOME; writes are best effort.
class UserDefaults
{
public:
    // $XDG_CONFIG_HOME/app.zelt.ZeltShareExtension/defaults.ini
    static std::unique_ptr<QSettings> standard();
    // $XDG_CONFIG_HOME/<suiteName>/defaults.ini, or null when the name cannot be a suite
    // (empty, a path, or the extension's own identifier).
    static std::unique_ptr<QSettings> suite(const QString &suiteName);
    // The app-group suite when the configuration names a usable one, else the standard store.
    static std::unique_ptr<QSettings> shared(const BundleConfiguration &configuration);

    static QString fileName(const QString &directoryName);
};
