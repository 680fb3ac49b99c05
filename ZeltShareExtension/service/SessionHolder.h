#pragma once

#include "NativeSharedSession.h"
#include "ServiceEnvironment.h"

#include <QObject>
#include <QPointer>

#include <memory>
#include <optional>

// What every service call works on: the base origin (fixed) and the current shared session,
// which a call replaces when the service rotates the cookie. The share sheet's model is one.
class QNetworkAccessManager;

class SessionHolder : public QObject
{
    Q_OBJECT

public:
    explicit SessionHolder(std::shared_ptr<ServiceEnvironment> environment,
                           std::optional<NativeSharedSession> session = std::nullopt,
                           QObject *parent = nullptr);
    ~SessionHolder() override;

    const std::shared_ptr<ServiceEnvironment> &environment() const { return m_environment; }
    const QUrl &baseOrigin() const { return m_environment->baseOrigin(); }

    const std::optional<NativeSharedSession> &sharedSession() const { return m_sharedSession; }
    void setSharedSession(const std::optional<NativeSharedSession> &session);

    // The network manager of this holder's calls, made on first use: they reuse its
    // connections and TLS sessions, and nothing else does (no cookie jar, no cache). None once
    // the process is on its way out.
    QNetworkAccessManager *networkManager();

Q_SIGNALS:
    void sharedSessionChanged();

private:
    std::shared_ptr<ServiceEnvironment> m_environment;
    std::optional<NativeSharedSession> m_sharedSession;
    QPointer<QNetworkAccessManager> m_networkManager;
    bool m_madeNetworkManager = false;
};
