#pragma once

#include "NativeSharedSession.h"
#include "SessionKeychain.h"

#include <memory>

// The extension's side of the shared session item: read it, write back a rotated session,
// delete a refused one. Without a configured access group there is no item: reads give none,
// write-back fails with KeychainError::Status::Unsupported, deletes do nothing.
class SharedSessionStore
{
public:
    explicit SharedSessionStore(std::unique_ptr<SessionKeychain> keychain);

    // A load, and when it found no session, whether the keyring was in the way.
    struct LoadedSession
    {
        std::optional<NativeSharedSession> session;
        // The keyring could not be read (locked, or no Secret Service to ask): whether the user
        // is signed in cannot be told.
        bool keyringUnavailable = false;
    };

    std::optional<NativeSharedSession> loadStoredSession() const;
    // The stored session if it belongs to baseOrigin; a session of another origin counts as
    // signed out.
    std::optional<NativeSharedSession> loadSession(const QUrl &baseOrigin) const;
    LoadedSession loadSessionWithState(const QUrl &baseOrigin) const;
    // Compare-and-replace on the fingerprint of previous. Throws KeychainError.
    void storeRotatedSession(const NativeSharedSession &previous,
                             const NativeSharedSession &current);
    // Deletes the item; given stillStored, only while the item still holds that session.
    void deleteStoredSession(const std::optional<NativeSharedSession> &stillStored = std::nullopt);

    SessionKeychain *keychain() const { return m_keychain.get(); }

private:
    std::unique_ptr<SessionKeychain> m_keychain;
};
