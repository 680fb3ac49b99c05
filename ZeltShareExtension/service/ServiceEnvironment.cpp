#include "ServiceEnvironment.h"

#include "BundleConfiguration.h"
#include "Logging.h"
#include "UserDefaults.h"

ServiceEnvironment::ServiceEnvironment(ServiceOrigin origin,
                                       std::shared_ptr<SharedSessionStore> store,
                                       QList<QSslCertificate> extraAuthorities)
    : m_origin(std::move(origin))
    , m_store(std::move(store))
    , m_ssl(QSslConfiguration::defaultConfiguration())
{
    // Adding a certificate ends the on-demand loading of the system's roots, so they are
    // listed explicitly: the extra authorities are trusted besides them, never instead.
    if (!extraAuthorities.isEmpty())
        m_ssl.setCaCertificates(QSslConfiguration::systemCaCertificates() + extraAuthorities);
}

std::shared_ptr<ServiceEnvironment>
ServiceEnvironment::fromBundle(const BundleConfiguration &configuration)
{
    const auto defaults = UserDefaults::shared(configuration);
    const auto origin = ServiceOrigin::resolve(configuration, *defaults);
    QList<QSslCertificate> authorities;
    if (origin.source == ServiceOrigin::Source::Development) {
        if (const auto path = configuration.devCertificateAuthorities()) {
            authorities = QSslCertificate::fromPath(*path, QSsl::Pem);
            if (authorities.isEmpty())
                qCWarning(lcShareExtension, "no development CA certificate in %s",
                          qUtf8Printable(*path));
        }
    }
    auto environment = std::make_shared<ServiceEnvironment>(
        origin, std::make_shared<SharedSessionStore>(SessionKeychain::create(configuration)),
        authorities);
    environment->setSharedDefaultsFile(defaults->fileName());
    return environment;
}

std::unique_ptr<QSettings> ServiceEnvironment::sharedDefaults() const
{
    if (m_sharedDefaultsFile.isEmpty())
        return UserDefaults::standard();
    return std::make_unique<QSettings>(m_sharedDefaultsFile, QSettings::IniFormat);
}
