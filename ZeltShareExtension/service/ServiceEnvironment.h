#pragma once

#include "ServiceOrigin.h"
#include "SharedSessionStore.h"

#include <QList>
#include <QSettings>
#include <QSslCertificate>
#include <QSslConfiguration>

#include <chrono>
#include <memory>

class BundleConfiguration;

// What every service call of one process shares: the base origin, the shared session item and
// the TLS trust. Made once at start and fixed for the life of the process.
class ServiceEnvironment
{
public:
    // Inactivity time-outs of the calls: a call fails when no byte moves for this long.
    struct Timeouts
    {
        std::chrono::milliseconds internalApp = std::chrono::seconds(30);
        std::chrono::milliseconds destinations = std::chrono::seconds(15);
        std::chrono::milliseconds nativeShare = std::chrono::seconds(30);
        std::chrono::milliseconds upload = std::chrono::seconds(120);
    };

    ServiceEnvironment(ServiceOrigin origin, std::shared_ptr<SharedSessionStore> store,
                       QList<QSslCertificate> extraAuthorities = {});

    // Resolves the base origin from the configuration and the shared defaults, opens the
    // configured keychain, and trusts the development CA file only while the development
    // origin is the one in use.
    static std::shared_ptr<ServiceEnvironment> fromBundle(const BundleConfiguration &configuration);

    const QUrl &baseOrigin() const { return m_origin.url; }
    ServiceOrigin::Source originSource() const { return m_origin.source; }
    SharedSessionStore &sessionStore() const { return *m_store; }
    // System trust, plus the development CA where it applies. Never weaker than the default.
    const QSslConfiguration &sslConfiguration() const { return m_ssl; }

    // The suite shared with the main application (or the standard defaults without one).
    std::unique_ptr<QSettings> sharedDefaults() const;
    void setSharedDefaultsFile(const QString &fileName) { m_sharedDefaultsFile = fileName; }

    const Timeouts &timeouts() const { return m_timeouts; }
    // Tests shorten them; the product keeps the defaults.
    void setTimeouts(const Timeouts &timeouts) { m_timeouts = timeouts; }

private:
    ServiceOrigin m_origin;
    std::shared_ptr<SharedSessionStore> m_store;
    QSslConfiguration m_ssl;
    Timeouts m_timeouts;
    QString m_sharedDefaultsFile;
};
