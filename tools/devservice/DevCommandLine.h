#pragma once

#include "service/BundleConfiguration.h"

#include <QCommandLineParser>
#include <QString>

#include <optional>

// What the zelt-devservice commands share: the bundle configuration they work against
// (--bundle, by default the one beside zelt-share in the same tree) and the defaults drawn from
// it, so that a plain `zelt-devservice serve` or `signin` matches the tree it is run from.
class DevCommandLine
{
public:
    static void addBundleOption(QCommandLineParser &parser);
    // Parses arguments; prints the error and gives false when they do not fit.
    static bool parse(QCommandLineParser &parser, const QStringList &arguments);
    static BundleConfiguration bundle(const QCommandLineParser &parser);

    // The directory of ZeltDevCertificateAuthorities: where the service keeps ca.pem.
    static std::optional<QString> defaultDataDirectory(const BundleConfiguration &configuration);
    // The port of ZeltDevBaseOrigin, else 8443.
    static quint16 defaultPort(const BundleConfiguration &configuration);
    // Which keychain backend and item the bundle selects, for messages.
    static QString keychainDescription(const BundleConfiguration &configuration);

    static void error(const QString &message);
};
