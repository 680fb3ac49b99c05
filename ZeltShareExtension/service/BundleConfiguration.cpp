#include "BundleConfiguration.h"

#include "Logging.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>

using namespace Qt::StringLiterals;

BundleConfiguration BundleConfiguration::fromJson(const QJsonObject &dictionary,
                                                  const QString &baseDirectory)
{
    BundleConfiguration configuration;
    configuration.m_dictionary = dictionary;
    configuration.m_baseDirectory = baseDirectory;
    return configuration;
}

BundleConfiguration BundleConfiguration::load(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        qCWarning(lcShareExtension, "bundle configuration %s: %s", qUtf8Printable(path),
                  qUtf8Printable(file.errorString()));
        return {};
    }
    QJsonParseError error{};
    const auto document = QJsonDocument::fromJson(file.read(1024 * 1024), &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        qCWarning(lcShareExtension, "bundle configuration %s is not a JSON object",
                  qUtf8Printable(path));
        return {};
    }
    return fromJson(document.object(), QFileInfo(path).absolutePath());
}

QString BundleConfiguration::defaultPath()
{
    return QDir::cleanPath(QCoreApplication::applicationDirPath() +
                           u"/../share/zelt/ZeltShareExtension.json"_s);
}

std::optional<QString> BundleConfiguration::value(QStringView key, bool trimmed) const
{
    const auto entry = m_dictionary.value(key);
    if (!entry.isString())
        return std::nullopt;
    auto text = entry.toString();
    if (trimmed)
        text = text.trimmed();
    if (text.isEmpty() || text.contains(u"$("_s))
        return std::nullopt;
    return text;
}

BundleConfiguration::KeychainBackend BundleConfiguration::keychainBackend() const
{
    const auto backend = value(u"ZeltKeychainBackend"_s, true);
    if (backend == u"file"_s)
        return KeychainBackend::File;
    if (backend && backend != u"secret-service"_s)
        qCWarning(lcShareExtension, "unknown ZeltKeychainBackend \"%s\"; using secret-service",
                  qUtf8Printable(*backend));
    return KeychainBackend::SecretService;
}

std::optional<QString> BundleConfiguration::devCertificateAuthorities() const
{
    const auto path = value(u"ZeltDevCertificateAuthorities"_s, true);
    if (!path)
        return std::nullopt;
    return QDir(m_baseDirectory.isEmpty() ? QDir::currentPath() : m_baseDirectory)
        .absoluteFilePath(*path);
}
