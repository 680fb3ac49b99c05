#include "DevCommandLine.h"

#include "service/FileSessionKeychain.h"

#include <QFileInfo>
#include <QUrl>

#include <cstdio>

using namespace Qt::StringLiterals;

void DevCommandLine::addBundleOption(QCommandLineParser &parser)
{
    parser.addOption({u"bundle"_s,
                      u"The bundle configuration file (default: the one beside zelt-share)."_s,
                      u"file"_s});
}

bool DevCommandLine::parse(QCommandLineParser &parser, const QStringList &arguments)
{
    parser.addHelpOption();
    if (!parser.parse(arguments)) {
        error(parser.errorText());
        return false;
    }
    if (parser.isSet(u"help"_s)) {
        std::fputs(qUtf8Printable(parser.helpText()), stdout);
        std::exit(0);
    }
    return true;
}

BundleConfiguration DevCommandLine::bundle(const QCommandLineParser &parser)
{
    const auto path =
        parser.isSet(u"bundle"_s) ? parser.value(u"bundle"_s) : BundleConfiguration::defaultPath();
    return BundleConfiguration::load(path);
}

std::optional<QString>
DevCommandLine::defaultDataDirectory(const BundleConfiguration &configuration)
{
    const auto authorities = configuration.devCertificateAuthorities();
    if (!authorities)
        return std::nullopt;
    return QFileInfo(*authorities).absolutePath();
}

quint16 DevCommandLine::defaultPort(const BundleConfiguration &configuration)
{
    if (const auto origin = configuration.devBaseOrigin()) {
        const QUrl url(*origin);
        if (url.port() > 0)
            return quint16(url.port());
    }
    return 8443;
}

QString DevCommandLine::keychainDescription(const BundleConfiguration &configuration)
{
    const auto group = configuration.keychainAccessGroup().value_or(QString());
    if (configuration.keychainBackend() == BundleConfiguration::KeychainBackend::File)
        return u"file store %1"_s.arg(
            FileSessionKeychain(FileSessionKeychain::defaultDirectory(), group).itemPath());
    return u"desktop keyring (access group %1)"_s.arg(group);
}

void DevCommandLine::error(const QString &message)
{
    std::fprintf(stderr, "zelt-devservice: %s\n", qUtf8Printable(message));
}
