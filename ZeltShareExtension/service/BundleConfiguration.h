#pragma once

#include <QJsonObject>
#include <QString>

#include <optional>

// The bundle information dictionary: share/zelt/ZeltShareExtension.json beside bin/.
// Every value follows one rule: it counts only if it is a string, is not empty (after trimming
// where the key is trimmed) and holds no unexpanded "$(" build placeholder.
class BundleConfiguration
{
public:
    enum class KeychainBackend { SecretService, File };

    BundleConfiguration() = default;

    // Relative paths in the dictionary are resolved against baseDirectory.
    static BundleConfiguration fromJson(const QJsonObject &dictionary,
                                        const QString &baseDirectory = {});
    // A missing or unreadable file gives the empty configuration (every key absent).
    static BundleConfiguration load(const QString &path);
    // <directory of the executable>/../share/zelt/ZeltShareExtension.json
    static QString defaultPath();

    std::optional<QString> appGroupIdentifier() const
    {
        return value(u"ZeltAppGroupIdentifier", false);
    }
    std::optional<QString> keychainAccessGroup() const
    {
        return value(u"ZeltKeychainAccessGroup", false);
    }
    std::optional<QString> orbBuildThreadID() const { return value(u"ZeltOrbBuildThreadID", true); }
    std::optional<QString> devBaseOrigin() const { return value(u"ZeltDevBaseOrigin", true); }
    // "secret-service" (also when absent) or "file".
    KeychainBackend keychainBackend() const;
    // Absolute path of the PEM file trusted while the development origin is in use.
    std::optional<QString> devCertificateAuthorities() const;

    std::optional<QString> value(QStringView key, bool trimmed) const;

private:
    QJsonObject m_dictionary;
    QString m_baseDirectory;
};
