#include "SessionHolder.h"

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
