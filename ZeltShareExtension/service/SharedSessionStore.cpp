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
    return loadSessionWithState(baseOrigin).session;
}

SharedSessionStore::LoadedSession
SharedSessionStore::loadSessionWithState(const QUrl &baseOrigin) const
{
    if (!m_keychain)
        return {};
    const auto contents = m_keychain->contents();
    if (contents.state == SessionKeychain::Contents::State::Unavailable)
        return {std::nullopt, true};
    if (contents.state != SessionKeychain::Contents::State::Item)
        return {};
    auto session = NativeSharedSession::fromJson(contents.data);
    if (!session)
        return {};
    const QUrl origin(session->baseOrigin, QUrl::StrictMode);
    if (!origin.isValid() || !ServiceOrigin::isSameOrigin(origin, baseOrigin))
        return {};
    return {std::move(session), false};
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
