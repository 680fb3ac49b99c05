#include "SharedSessionStore.h"

#include "ServiceOrigin.h"

SharedSessionStore::SharedSessionStore(std::unique_ptr<SessionKeychain> keychain)
    : m_keychain(std::move(keychain))
{}

std::optional<NativeSharedSession> SharedSessionStore::loadStoredSession() const
{
    if (!m_keychain)
        return std::nullopt;
    const auto data = m_keychain->read();
    if (!data)
        return std::nullopt;
    return NativeSharedSession::fromJson(*data);
}

std::optional<NativeSharedSession> SharedSessionStore::loadSession(const QUrl &baseOrigin) const
{
    auto session = loadStoredSession();
    if (!session)
        return std::nullopt;
    const QUrl origin(session->baseOrigin, QUrl::StrictMode);
    if (!origin.isValid() || !ServiceOrigin::isSameOrigin(origin, baseOrigin))
        return std::nullopt;
    return session;
}

void SharedSessionStore::storeRotatedSession(const NativeSharedSession &previous,
                                             const NativeSharedSession &current)
{
    if (!m_keychain)
        throw KeychainError(KeychainError::Status::Unsupported,
                            QStringLiteral("no keychain access group is configured"));
    m_keychain->replace(previous.fingerprint(), current.fingerprint(), current.toJson());
}

void SharedSessionStore::deleteStoredSession(const std::optional<NativeSharedSession> &stillStored)
{
    if (!m_keychain)
        return;
    m_keychain->remove(stillStored ? std::optional(stillStored->fingerprint()) : std::nullopt);
}
