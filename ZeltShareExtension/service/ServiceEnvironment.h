#pragma once

#include "ServiceOrigin.h"
#include "SharedSessionStore.h"

#include <QList>
#include <QSslCertificate>
#include <QSslConfiguration>

#include <memory>

class BundleConfiguration;

// What every service call of one process shares: the base origin, the shared session item and
// the TLS trust. Made once at start and fixed for the life of the process.
class ServiceEnvironment
{
public:
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

private:
    ServiceOrigin m_origin;
    std::shared_ptr<SharedSessionStore> m_store;
    QSslConfiguration m_ssl;
};
