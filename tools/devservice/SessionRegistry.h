#pragma once

#include "PasskeyVerifier.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

#include <chrono>
#include <mutex>
#include <optional>

// The accounts, web sessions and passkeys of the development service, kept in one JSON file
// (0600) so that a restarted service still knows the sessions it handed out.
//
// A session is identified by its cookie value. When the service rotates it, the old value is
// superseded: it is still accepted for a grace period (and told the current value again), then
// refused like any unknown value. The sudo session and the passkey attempts belong to the web
// session, not to one cookie value.
class SessionRegistry
{
public:
    using Clock = std::chrono::system_clock;

    struct Settings
    {
        QString stateFile;
        // Rotate the cookie on every Nth request of a session; 0 never rotates.
        int rotateEvery = 0;
        std::chrono::seconds rotationGrace{60};
        std::chrono::seconds sudoDuration{300};
        std::chrono::seconds passkeyAttemptLifetime{300};
    };

    struct User
    {
        QString userID;
        QString name;
        QByteArray userHandle;
        QList<PasskeyCredential> credentials;
    };

    struct SignIn
    {
        QString sessionID;
        QByteArray cookieValue;
        User user;
    };

    struct Authentication
    {
        enum class Status { Refused, Current, Superseded };
        Status status = Status::Refused;
        QString sessionID;
        QString userID;
        // The value to set in this answer: a new value after a rotation, or the current one for
        // a superseded value in its grace period.
        std::optional<QByteArray> setCookieValue;
    };

    struct PasskeyAttempt
    {
        QString attemptID;
        QByteArray challenge;
        Clock::time_point expiresAt;
    };

    explicit SessionRegistry(Settings settings);

    // Signs the named user in (creating the account on first use) with a new session.
    SignIn signIn(const QString &name, Clock::time_point now);
    void signOut(const QString &sessionID);

    // Looks the cookie value up and counts the request; may rotate the value.
    Authentication authenticate(const QByteArray &cookieValue, Clock::time_point now);

    std::optional<User> user(const QString &userID) const;
    // Registers (or replaces) a passkey of the user. False when another user has that ID.
    bool registerCredential(const QString &userID, const PasskeyCredential &credential);
    void updateSignCount(const QString &userID, const QByteArray &credentialID, quint32 signCount);

    bool isSudoActive(const QString &sessionID, Clock::time_point now) const;
    void openSudo(const QString &sessionID, Clock::time_point now);

    PasskeyAttempt beginPasskeyAttempt(const QString &sessionID, Clock::time_point now);
    // Hands out the attempt once: a second take, another session's attempt or an expired one
    // gives none.
    std::optional<PasskeyAttempt>
    takePasskeyAttempt(const QString &sessionID, const QString &attemptID, Clock::time_point now);

private:
    struct Superseded
    {
        QByteArray value;
        Clock::time_point graceUntil;
    };
    struct Session
    {
        QString userID;
        QByteArray cookieValue;
        QList<Superseded> superseded;
        int requestsSinceRotation = 0;
        Clock::time_point sudoUntil{};
        QHash<QString, PasskeyAttempt> attempts;
    };

    void load();
    void save() const;
    User *findUser(const QString &userID);

    Settings m_settings;
    mutable std::mutex m_mutex;
    QHash<QString, User> m_users;
    QHash<QString, Session> m_sessions;
};
