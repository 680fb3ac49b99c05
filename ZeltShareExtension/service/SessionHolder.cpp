#include "SessionHolder.h"

#include "HttpTransfer.h"

#include <QNetworkAccessManager>

SessionHolder::SessionHolder(std::shared_ptr<ServiceEnvironment> environment,
                             std::optional<NativeSharedSession> session, QObject *parent)
    : QObject(parent)
    , m_environment(std::move(environment))
    , m_sharedSession(std::move(session))
{}

void SessionHolder::setSharedSession(const std::optional<NativeSharedSession> &session)
{
    if (m_sharedSession == session)
        return;
    m_sharedSession = session;
    Q_EMIT sharedSessionChanged();
}

SessionHolder::~SessionHolder()
{
    HttpTransfer::releaseManager(m_networkManager);
}

QNetworkAccessManager *SessionHolder::networkManager()
{
    // Once taken away (the process is stopping), never made again.
    if (!m_madeNetworkManager) {
        m_madeNetworkManager = true;
        m_networkManager = HttpTransfer::makeManager();
    }
    return m_networkManager;
}
